// Name strings: CertNameToStr with CERT_X500_NAME_STR as Windows writes it,
// its size protocol, and CertGetNameString for one attribute.
#include "support/certfactory.h"
#include "support/threadlocale.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace {

using tvtest::Bytes;
using tvtest::derString;
using tvtest::rawAttribute;
using tvtest::textAttribute;

std::u16string wideName(const Bytes& der, DWORD type = CERT_X500_NAME_STR) {
  CERT_NAME_BLOB blob{static_cast<DWORD>(der.size()), const_cast<BYTE*>(der.data())};
  DWORD size = CertNameToStrW(X509_ASN_ENCODING, &blob, type, nullptr, 0);
  std::u16string text(size, u'\0');
  EXPECT_EQ(size, CertNameToStrW(X509_ASN_ENCODING, &blob, type, text.data(), size));
  text.resize(size - 1);
  return text;
}

tvtest::NameAttribute printable(const std::string& oid, const std::string& text) {
  return rawAttribute(oid, derString(0x13, text));
}

tvtest::Name oneValue(const std::string& oid, const Bytes& der) { return tvtest::Name{{rawAttribute(oid, der)}, {}}; }

struct NameCase {
  const char* what;
  tvtest::Name name;
  std::u16string expected;
};

// Test lists show the case's description, not its bytes.
void PrintTo(const NameCase& c, std::ostream* out) { *out << c.what; }

class X500NameString : public ::testing::TestWithParam<NameCase> {};

TEST_P(X500NameString, IsWrittenAsWindowsWritesIt) {
  EXPECT_EQ(GetParam().expected, wideName(tvtest::nameDer(GetParam().name)));
}

// One row for each way a value is written: each reason for quoting, each
// way to text (UTF-8, big-endian units, T61 tried as UTF-8, Latin-1, hex),
// the keys and the RDN separators.
INSTANTIATE_TEST_SUITE_P(
    Values, X500NameString,
    ::testing::Values(
        NameCase{"needs no quotes", tvtest::commonName("it's a\\b  c\rd"), u"CN=it's a\\b  c\rd"},
        NameCase{"comma", tvtest::commonName("a,b"), u"CN=\"a,b\""},
        NameCase{"other specials", tvtest::commonName("<=>#;+\n"), u"CN=\"<=>#;+\n\""},
        NameCase{"quotation mark doubled", tvtest::commonName("say \"hi\""), u"CN=\"say \"\"hi\"\"\""},
        NameCase{"leading blank", tvtest::commonName(" lead"), u"CN=\" lead\""},
        NameCase{"trailing blank", tvtest::commonName("trail "), u"CN=\"trail \""},
        NameCase{"empty", oneValue("2.5.4.3", derString(0x13, "")), u"CN=\"\""},
        NameCase{"zero inside",
                 tvtest::Name{{rawAttribute("2.5.4.3", derString(0x0C, std::string("Trusted Bank\0", 13))),
                               textAttribute("2.5.4.10", "Evil Corp")},
                              {}},
                 std::u16string(u"CN=Trusted Bank\0, O=Evil Corp", 29)},
        NameCase{"unknown OID with NumericString", oneValue("1.2.643.100.1", derString(0x12, "1027700132195")),
                 u"OID.1.2.643.100.1=1027700132195"},
        NameCase{"BMPString", oneValue("2.5.4.3", tvtest::fromHex("1E0A 0416 0451 043B 0443 0434")), u"CN=Жёлуд"},
        NameCase{"BMPString outside the BMP", oneValue("2.5.4.3", tvtest::fromHex("1E04 D83D DE00")), u"CN=\U0001F600"},
        NameCase{"T61String read as UTF-8", oneValue("2.5.4.3", tvtest::fromHex("1402C2A2")), u"CN=\u00A2"},
        NameCase{"T61String not UTF-8", oneValue("2.5.4.3", tvtest::fromHex("1403C2A2F8")), u"CN=\u00C2\u00A2\u00F8"},
        NameCase{"OCTET STRING", oneValue("2.5.4.3", tvtest::fromHex("04023000")), u"CN=#3000"},
        NameCase{"OBJECT IDENTIFIER", oneValue("2.5.4.5", tvtest::fromHex("0603550406")),
                 u"SERIALNUMBER=#0603550406"},
        NameCase{"multi-valued RDN",
                 tvtest::Name{{}, tvtest::fromHex("30223120300C060355040313054A616D65733010060355040A13094D6963726F736F6674")},
                 u"CN=James + O=Microsoft"},
        NameCase{"empty name", tvtest::Name{{}, tvtest::fromHex("3000")}, u""},
        NameCase{"keys of the table",
                 tvtest::Name{{printable("2.5.4.8", "Minnesota"), printable("2.5.4.7", "Minneapolis"),
                               printable("2.5.4.11", "Dev"), printable("2.5.4.9", "1 Main St"),
                               printable("2.5.4.12", "Dr"), printable("2.5.4.42", "Ann"), printable("2.5.4.43", "A"),
                               printable("2.5.4.4", "Lee"),
                               rawAttribute("0.9.2342.19200300.100.1.25", derString(0x16, "example")),
                               printable("2.5.4.17", "12345"), printable("2.5.4.5", "42"),
                               rawAttribute("1.2.840.113549.1.9.1", derString(0x16, "a@example.com")),
                               printable("2.5.4.97", "VATRU-1")},
                              {}},
                 u"S=Minnesota, L=Minneapolis, OU=Dev, STREET=1 Main St, T=Dr, G=Ann, I=A, SN=Lee, DC=example, "
                 u"PostalCode=12345, SERIALNUMBER=42, E=a@example.com, OID.2.5.4.97=VATRU-1"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return tvtest::identifierFrom(info.param.what); });

// A name of thousands of RDNs is read in one pass (it once took minutes).
TEST(NameToStr, ManyRdnsAreAllWritten) {
  const tvtest::Name name = tvtest::manyRdns(2000);
  const std::u16string text = wideName(tvtest::nameDer(name));
  EXPECT_EQ(text.rfind(u"CN=1999"), text.size() - 7);
  EXPECT_EQ(std::count(text.begin(), text.end(), u'='), 2000);
}

TEST(NameToStr, AnsiFormFollowsTheSizeProtocolAndNeverFails) {
  Bytes der = tvtest::nameDer(tvtest::commonName("Protocol"));
  CERT_NAME_BLOB blob{static_cast<DWORD>(der.size()), der.data()};
  char buffer[64];
  SetLastError(0xDEADBEEF);
  EXPECT_EQ(12u, CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 0));
  EXPECT_EQ(12u, CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, 12));
  EXPECT_STREQ("CN=Protocol", buffer);
  EXPECT_EQ(0u, GetLastError());

  // A buffer one short gets no partial text.
  buffer[0] = 'x';
  EXPECT_EQ(1u, CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, 11));
  EXPECT_EQ('\0', buffer[0]);

  // The wide form cuts the text instead.
  char16_t wide[6];
  EXPECT_EQ(6u, CertNameToStrW(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, wide, 6));
  EXPECT_EQ(u"CN=Pr", std::u16string(wide));

  struct Failure {
    DWORD encoding;
    Bytes der;
    DWORD error;
  } failures[] = {
      {0, der, ERROR_FILE_NOT_FOUND},
      {X509_ASN_ENCODING, tvtest::fromHex("3105"), 0},  // some CRYPT_E_ASN1_* code
      {X509_ASN_ENCODING, Bytes(der.begin(), der.end() - 3), 0},
  };
  for (Failure& failure : failures) {
    CERT_NAME_BLOB bad{static_cast<DWORD>(failure.der.size()), failure.der.data()};
    buffer[0] = 'x';
    SetLastError(0);
    EXPECT_EQ(1u, CertNameToStrA(failure.encoding, &bad, CERT_X500_NAME_STR, buffer, sizeof buffer));
    EXPECT_EQ('\0', buffer[0]);
    if (failure.error != 0)
      EXPECT_EQ(failure.error, GetLastError());
    else
      EXPECT_EQ(0x80093100u, GetLastError() & 0xFFFFFF00u);
  }
}

TEST(NameToStr, AnsiFormConvertsToTheThreadCodePage) {
  // Windows' own worked example: ACP 1251, 111 characters.
  Bytes der = tvtest::fromHex(
      "308185310B30090603550406130252553120301E060355040A0C17D09ED09ED09E2022D0A0D0BED0BCD0B0D188D0BAD0B022"
      "3118301606052A85036401120D31303237373030313332313935311A301806082A85030381030101120C3030373730373038"
      "33383933311E301C06035504030C15D098D0B2D0B0D0BDD0BED0B220D098D0B2D0B0D0BD");
  if (!tvtest::ThreadLocale::available("ru_RU.CP1251")) GTEST_SKIP() << "no ru_RU.CP1251 locale";
  tvtest::ThreadLocale russian("ru_RU.CP1251");
  CERT_NAME_BLOB blob{static_cast<DWORD>(der.size()), der.data()};
  char text[111];
  EXPECT_EQ(111u, CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, nullptr, 0));
  EXPECT_EQ(111u, CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, text, sizeof text));
  EXPECT_EQ(std::string("C=RU, O=\"\xCE\xCE\xCE \"\"\xD0\xEE\xEC\xE0\xF8\xEA\xE0\"\"\", OID.1.2.643.100.1=1027700132195, "
                        "OID.1.2.643.3.131.1.1=007707083893, CN=\xC8\xE2\xE0\xED\xEE\xE2 \xC8\xE2\xE0\xED"),
            text);
}

// (The attributes themselves are read by the certificate's own tests.)
TEST(GetNameString, BothFormsReportAContextTheyDoNotKnow) {
  CERT_CONTEXT madeUp{};
  char narrow[8] = "x";
  char16_t wide[8] = u"x";
  char* commonName = const_cast<char*>(szOID_COMMON_NAME);
  SetLastError(0);
  EXPECT_EQ(1u, CertGetNameStringW(&madeUp, CERT_NAME_ATTR_TYPE, 0, commonName, wide, 8));
  EXPECT_EQ(static_cast<DWORD>(E_INVALIDARG), GetLastError());
  SetLastError(0);
  EXPECT_EQ(1u, CertGetNameStringA(&madeUp, CERT_NAME_ATTR_TYPE, 0, commonName, narrow, 8));
  EXPECT_EQ(static_cast<DWORD>(E_INVALIDARG), GetLastError());
  EXPECT_EQ(narrow[0] + wide[0], 0);
}

}  // namespace
