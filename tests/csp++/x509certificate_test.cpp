// Crypto::X509Certificate: the texts a page sees, the references it holds,
// and its serialised form.
#include "csp++/x509certificate.h"

#include "common/exceptions.h"
#include "common/memoryinputstream.h"
#include "common/memoryoutputstream.h"
#include "support/certfactory.h"
#include "support/thrown.h"

#include <tvplatform.h>

#include <gtest/gtest.h>

#include <ctime>
#include <stdexcept>
#include <string>

namespace {

using Crypto::X509Certificate;
using tvtest::Bytes;
using tvtest::textAttribute;

tvtest::CertificateOptions ecdsa() {
  tvtest::CertificateOptions options;
  options.key = tvtest::KeyKind::EcdsaP256;  // quick to make
  return options;
}

// Times are given and shown as UTC "YYYY-MM-DD hh:mm:ss" (shown with ".000").
TEST(X509Certificate, ValidityTextsAreUtcWithPaddedFields) {
  auto utc = [](const std::string& text) {
    std::tm fields{};
    strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &fields);
    return timegm(&fields);
  };
  const std::pair<std::string, std::string> validities[] = {
      {"1999-03-05 07:08:09", "2051-01-02 03:04:05"},  // UTCTime before 2000, GeneralizedTime after 2049
      {"2020-01-01 00:00:00", "2049-12-31 23:59:59"},
      {"1970-01-02 03:04:05", "9999-12-31 23:59:59"},  // RFC 5280's time for "no well-defined expiration"
  };
  for (const auto& [notBefore, notAfter] : validities) {
    tvtest::CertificateOptions options = ecdsa();
    options.notBefore = utc(notBefore);
    options.notAfter = utc(notAfter);
    X509Certificate certificate(tvtest::makeCertificate(options).der);
    EXPECT_EQ(notBefore + ".000", certificate.notBefore());
    EXPECT_EQ(notAfter + ".000", certificate.notAfter());
  }
}

// Five members in order without white space; the thumbprint is the SHA-1 of
// the encoding in upper-case hex. Names come quoted in the list and unquoted
// alone; an absent attribute is empty.
TEST(X509Certificate, JsonObjectAndNameAttributes) {
  tvtest::CertificateOptions options = ecdsa();
  options.subject = tvtest::Name{{textAttribute("2.5.4.6", "RU"), textAttribute("2.5.4.3", "Holder, \"Main\"")}, {}};
  options.issuer = tvtest::commonName("Issuing CA");
  options.notBefore = tvtest::utc(2021, 3, 5, 7, 8, 9);
  options.notAfter = tvtest::utc(2022, 3, 5, 7, 8, 9);
  const Bytes der = tvtest::makeCertificate(options).der;
  const X509Certificate certificate(der);
  EXPECT_EQ("{\"Thumbprint\":\"" + tvtest::sha1Hex(der) +
                "\",\"DistinguishedName\":\"C=RU, CN=\\\"Holder, \\\"\\\"Main\\\"\\\"\\\"\","
                "\"IssuerDistinguishedName\":\"CN=Issuing CA\","
                "\"NotBefore\":\"2021-03-05 07:08:09.000\",\"NotAfter\":\"2022-03-05 07:08:09.000\","
                "\"PublicKeyAlgorithm\":\"1.2.840.10045.2.1\"}",
            certificate.toJson());
  EXPECT_EQ("Holder, \"Main\"", certificate.subjectCommonName());
  EXPECT_EQ("Issuing CA", certificate.issuerCommonName());
  EXPECT_EQ("", certificate.subjectUnstructuredName());

  // A BMPString holding U+0000 would cut a C string short: refused.
  options.subject = tvtest::Name{{tvtest::rawAttribute("2.5.4.3", tvtest::fromHex("1E06004100000042"))}, {}};
  const X509Certificate zeros(tvtest::makeCertificate(options).der);
  try {
    zeros.subjectCommonName();
    FAIL() << "no AssertionFailed";
  } catch (const Sys::AssertionFailed& error) {
    EXPECT_STREQ("X509Certificate::getNameOf returns zeros in string!", error.what());
    EXPECT_EQ("Crypto::X509Certificate::getNameOf", error.function());
  }
}

TEST(X509Certificate, CopiesAndAssignmentsHoldExactlyOneReferenceEach) {
  LONG before = TvLiveCertificateContexts();
  Bytes first = tvtest::makeCertificate(tvtest::KeyKind::EcdsaP256).der;
  Bytes second = tvtest::makeCertificate(tvtest::KeyKind::EcdsaP256).der;
  {
    X509Certificate a(first);
    X509Certificate b(a);
    X509Certificate c(second);
    EXPECT_EQ(before + 2, TvLiveCertificateContexts());
    c = a;  // the second certificate's only reference goes
    EXPECT_EQ(before + 1, TvLiveCertificateContexts());
    c = c;
    c = b;
    EXPECT_EQ(a.getContext(), c.getContext());
  }
  EXPECT_EQ(before, TvLiveCertificateContexts());

  // From a context: the wrapper takes its own reference; the caller keeps its own.
  PCCERT_CONTEXT context =
      CertCreateCertificateContext(X509_ASN_ENCODING, first.data(), static_cast<DWORD>(first.size()));
  X509Certificate(context).thumbprint();
  CertFreeCertificateContext(context);
  EXPECT_EQ(before, TvLiveCertificateContexts());
}

TEST(X509Certificate, EmptyCertificatesAreRefusedWithInvalidParameter) {
  X509Certificate empty;
  X509Certificate holding(tvtest::makeCertificate(ecdsa()).der);
  PCCERT_CONTEXT held = holding.getContext();
  const std::string invalid = "The parameter is incorrect.\r\n";
  EXPECT_EQ(tvtest::thrownText([&] { X509Certificate copy(empty); }), invalid);
  EXPECT_EQ(tvtest::thrownText([&] { holding = empty; }), invalid);
  EXPECT_EQ(held, holding.getContext()) << "a refused assignment leaves the target as it was";
  EXPECT_EQ(tvtest::thrownText([&] { X509Certificate fromNull(static_cast<PCCERT_CONTEXT>(nullptr)); }), invalid);
  EXPECT_EQ(tvtest::thrownText([&] { empty.thumbprint(); }), invalid);
  EXPECT_EQ(tvtest::thrownText([&] { empty.hasSignToolExtensions(); }), "Invalid cert context");
  // An encoding the platform refuses carries the platform's code.
  try {
    X509Certificate bad(tvtest::fromHex("3003020101"));
    ADD_FAILURE() << "accepted";
  } catch (const Crypto::Error& error) {
    EXPECT_EQ(0x80093100u, error.code() & 0xFFFFFF00u);
  }
}

TEST(X509Certificate, SignToolExtensionsCountOnlyWhenBothArePresent) {
  auto make = [](std::vector<std::string> usages, std::vector<const char*> tools) {
    tvtest::CertificateOptions options = ecdsa();
    options.keyUsages = usages;
    for (const char* oid : tools) options.extensions.push_back({oid, tvtest::subjectSignToolValue(), false});
    return X509Certificate(tvtest::makeCertificate(options).der);
  };
  EXPECT_FALSE(make({}, {}).hasSignToolExtensions());
  EXPECT_FALSE(make({}, {"1.2.643.100.112"}).hasSignToolExtensions());
  EXPECT_TRUE(make({}, {"1.2.643.100.111", "1.2.643.100.112"}).hasSignToolExtensions());
  std::vector<std::string> usages{"1.3.6.1.5.5.7.3.4", "1.3.6.1.5.5.7.3.2"};
  EXPECT_EQ(usages, make(usages, {}).getOids());
}

// Refused forms are the sign tuple reader's test (the certificate ends the record).
TEST(X509Certificate, SerialisedFormIsLengthThenEncodingAndReadsBackReleasingWhatItHeld) {
  Bytes der = tvtest::makeCertificate(tvtest::KeyKind::Gost2001ParamSetA).der;
  Sys::MemoryOutputStream out;
  X509Certificate(der).serialize(out);
  Bytes written(out.data(), out.data() + out.size());
  Bytes expected{static_cast<BYTE>(der.size()), static_cast<BYTE>(der.size() >> 8), 0, 0};
  expected.insert(expected.end(), der.begin(), der.end());
  EXPECT_EQ(expected, written);

  X509Certificate other(tvtest::makeCertificate(tvtest::KeyKind::EcdsaP256).der);
  LONG before = TvLiveCertificateContexts();
  Sys::MemoryInputStream in(written);
  other.deserialize(in);
  EXPECT_EQ(before, TvLiveCertificateContexts());
  EXPECT_EQ(tvtest::sha1Hex(der), other.thumbprint());
}

}  // namespace
