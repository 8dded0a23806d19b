// Crypto::X509Certificate: the texts a page sees, the references it holds,
// and its serialised form.
#include "csp++/x509certificate.h"

#include "common/exceptions.h"
#include "common/memoryoutputstream.h"
#include "support/certfactory.h"
#include "support/memoryinputstream.h"

#include <tvplatform.h>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Crypto::X509Certificate;
using tvtest::Bytes;
using tvtest::textAttribute;

Bytes certificateWith(const tvtest::Name& subject, const tvtest::Name& issuer = {}) {
  tvtest::CertificateOptions options;
  options.key = tvtest::KeyKind::EcdsaP256;
  options.subject = subject;
  options.issuer = issuer;
  return tvtest::makeCertificate(options).der;
}

TEST(X509Certificate, ThumbprintIsTheSha1OfTheEncodingInUpperCaseHex) {
  Bytes der = tvtest::makeCertificate(tvtest::KeyKind::Gost2001ParamSetA).der;
  EXPECT_EQ(tvtest::sha1Hex(der), X509Certificate(der).thumbprint());
}

TEST(X509Certificate, ValidityTextsAreUtcWithPaddedFields) {
  struct Case {
    std::time_t notBefore, notAfter;
    const char* before;
    const char* after;
  } cases[] = {
      // UTCTime before 2000 and GeneralizedTime after 2049.
      {tvtest::utc(1999, 3, 5, 7, 8, 9), tvtest::utc(2051, 1, 2, 3, 4, 5), "1999-03-05 07:08:09.000",
       "2051-01-02 03:04:05.000"},
      {tvtest::utc(2020, 1, 1), tvtest::utc(2049, 12, 31, 23, 59, 59), "2020-01-01 00:00:00.000",
       "2049-12-31 23:59:59.000"},
      // The GeneralizedTime RFC 5280 gives a certificate without a
      // well-defined expiration.
      {tvtest::utc(1970, 1, 2, 3, 4, 5), tvtest::utc(9999, 12, 31, 23, 59, 59), "1970-01-02 03:04:05.000",
       "9999-12-31 23:59:59.000"},
  };
  for (const Case& c : cases) {
    tvtest::CertificateOptions options;
    options.key = tvtest::KeyKind::EcdsaP256;
    options.notBefore = c.notBefore;
    options.notAfter = c.notAfter;
    X509Certificate certificate(tvtest::makeCertificate(options).der);
    EXPECT_EQ(c.before, certificate.notBefore());
    EXPECT_EQ(c.after, certificate.notAfter());
  }
}

TEST(X509Certificate, JsonObjectHasFiveMembersInOrderWithoutWhiteSpace) {
  tvtest::CertificateOptions options;
  options.key = tvtest::KeyKind::EcdsaP256;
  options.subject = tvtest::Name{{textAttribute("2.5.4.6", "RU"), textAttribute("2.5.4.3", "Holder")}, {}};
  options.issuer = tvtest::commonName("Issuing CA");
  options.notBefore = tvtest::utc(2021, 3, 5, 7, 8, 9);
  options.notAfter = tvtest::utc(2022, 3, 5, 7, 8, 9);
  X509Certificate certificate(tvtest::makeCertificate(options).der);
  EXPECT_EQ("{\"Thumbprint\":\"" + certificate.thumbprint() +
                "\",\"DistinguishedName\":\"C=RU, CN=Holder\",\"IssuerDistinguishedName\":\"CN=Issuing CA\","
                "\"NotBefore\":\"2021-03-05 07:08:09.000\",\"NotAfter\":\"2022-03-05 07:08:09.000\"}",
            certificate.toJson());
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
    std::vector<X509Certificate> many(5, a);
    many.push_back(c);
    EXPECT_EQ(tvtest::sha1Hex(first), many.back().thumbprint());
  }
  EXPECT_EQ(before, TvLiveCertificateContexts());

  // From a context: the wrapper takes its own reference; the caller keeps its own.
  PCCERT_CONTEXT context =
      CertCreateCertificateContext(X509_ASN_ENCODING, first.data(), static_cast<DWORD>(first.size()));
  X509Certificate(context).thumbprint();
  CertFreeCertificateContext(context);
  EXPECT_EQ(before, TvLiveCertificateContexts());
}

DWORD errorCode(const std::function<void()>& action) {
  try {
    action();
  } catch (const Crypto::Error& error) {
    return error.code();
  }
  return 0;
}

TEST(X509Certificate, EmptyCertificatesAreRefusedWithInvalidParameter) {
  X509Certificate empty;
  X509Certificate holding(tvtest::makeCertificate(tvtest::KeyKind::EcdsaP256).der);
  PCCERT_CONTEXT held = holding.getContext();
  EXPECT_TRUE(empty.isEmpty());
  EXPECT_EQ(87u, errorCode([&] { X509Certificate copy(empty); }));
  EXPECT_EQ(87u, errorCode([&] { holding = empty; }));
  EXPECT_EQ(held, holding.getContext()) << "a refused assignment leaves the target as it was";
  EXPECT_EQ(87u, errorCode([&] { X509Certificate fromNull(static_cast<PCCERT_CONTEXT>(nullptr)); }));
  EXPECT_EQ(87u, errorCode([&] { X509Certificate fromNothing{std::vector<BYTE>()}; }));
  EXPECT_EQ(87u, errorCode([&] { empty.thumbprint(); }));
  EXPECT_EQ(87u, errorCode([&] { empty.toJson(); }));
  try {
    empty.hasSignToolExtensions();
    ADD_FAILURE() << "no std::invalid_argument";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ("Invalid cert context", error.what());
  }
  // An encoding the platform refuses carries the platform's code.
  EXPECT_EQ(0x80093100u, errorCode([] { X509Certificate bad(tvtest::fromHex("3003020101")); }) & 0xFFFFFF00u);
}

TEST(X509Certificate, NameAttributesComeUnquotedAndAbsentOnesEmpty) {
  tvtest::CertificateOptions options;
  options.key = tvtest::KeyKind::EcdsaP256;
  options.subject = tvtest::commonName("Holder, \"Main\"");
  options.issuer = tvtest::commonName("Issuing CA");
  X509Certificate certificate(tvtest::makeCertificate(options).der);
  EXPECT_EQ("Holder, \"Main\"", certificate.subjectCommonName());
  EXPECT_EQ("Issuing CA", certificate.issuerCommonName());
  EXPECT_EQ("", certificate.subjectUnstructuredName());

  // A BMPString holding U+0000 would cut a C string short: refused.
  X509Certificate zeros(certificateWith(
      tvtest::Name{{tvtest::rawAttribute("2.5.4.3", tvtest::fromHex("1E06004100000042"))}, {}}));
  try {
    zeros.subjectCommonName();
    FAIL() << "no AssertionFailed";
  } catch (const Sys::AssertionFailed& error) {
    EXPECT_STREQ("X509Certificate::getNameOf returns zeros in string!", error.what());
    EXPECT_EQ("Crypto::X509Certificate::getNameOf", error.function());
  }
}

TEST(X509Certificate, SignToolExtensionsCountOnlyWhenBothArePresent) {
  auto make = [](std::vector<std::string> usages, std::vector<const char*> tools) {
    tvtest::CertificateOptions options;
    options.key = tvtest::KeyKind::EcdsaP256;
    options.keyUsages = usages;
    for (const char* oid : tools) options.extensions.push_back({oid, tvtest::subjectSignToolValue(), false});
    return X509Certificate(tvtest::makeCertificate(options).der);
  };
  EXPECT_FALSE(make({}, {}).hasSignToolExtensions());
  EXPECT_FALSE(make({}, {"1.2.643.100.111"}).hasSignToolExtensions());
  EXPECT_FALSE(make({}, {"1.2.643.100.112"}).hasSignToolExtensions());
  EXPECT_TRUE(make({}, {"1.2.643.100.111", "1.2.643.100.112"}).hasSignToolExtensions());
  std::vector<std::string> usages{"1.3.6.1.5.5.7.3.4", "1.3.6.1.5.5.7.3.2"};
  EXPECT_EQ(usages, make(usages, {}).getOids());
  EXPECT_TRUE(make({}, {}).getOids().empty());
}

TEST(X509Certificate, SerialisedFormIsLengthThenEncodingAndReadsBack) {
  Bytes der = tvtest::makeCertificate(tvtest::KeyKind::Gost2001ParamSetA).der;
  X509Certificate original(der);
  Sys::MemoryOutputStream out;
  original.serialize(out);
  ASSERT_EQ(der.size() + 4, out.size());
  Bytes written(out.data(), out.data() + out.size());
  EXPECT_EQ(Bytes({static_cast<BYTE>(der.size()), static_cast<BYTE>(der.size() >> 8), 0, 0}),
            Bytes(written.begin(), written.begin() + 4));
  EXPECT_EQ(der, Bytes(written.begin() + 4, written.end()));

  X509Certificate read;
  tvtest::MemoryInputStream in(written);
  read.deserialize(in);
  EXPECT_EQ(original.thumbprint(), read.thumbprint());

  // Reading into a certificate that holds one releases the one it held.
  X509Certificate other(tvtest::makeCertificate(tvtest::KeyKind::EcdsaP256).der);
  LONG before = TvLiveCertificateContexts();
  tvtest::MemoryInputStream again(written);
  other.deserialize(again);
  EXPECT_EQ(before, TvLiveCertificateContexts());
  EXPECT_EQ(original.thumbprint(), other.thumbprint());
}

TEST(X509Certificate, BrokenSerialisedFormsAreRefused) {
  Bytes der = tvtest::makeCertificate(tvtest::KeyKind::EcdsaP256).der;
  Bytes lengthOnly{static_cast<BYTE>(der.size()), static_cast<BYTE>(der.size() >> 8), 0, 0};
  Bytes shortBody = lengthOnly;
  shortBody.insert(shortBody.end(), der.begin(), der.begin() + 10);
  struct Case {
    const char* what;
    Bytes bytes;
    const char* text;
  } cases[] = {
      {"empty stream", {}, "Broken stream (1)"},
      {"half a length", {1, 0}, "Broken stream (2)"},
      {"zero length", {0, 0, 0, 0, 0x30}, "Zero certificate length"},
      {"length without bytes", lengthOnly, "Broken stream (1)"},
      {"fewer bytes than the length", shortBody, "Broken stream (2)"},
      // Nothing the size of the stated length is set aside for a stream
      // that cannot hold it.
      {"huge length", {0xF0, 0xFF, 0xFF, 0xFF, 0x30, 0x82}, "Broken stream (2)"},
  };
  for (const Case& c : cases) {
    X509Certificate target;
    tvtest::MemoryInputStream in(c.bytes);
    try {
      target.deserialize(in);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(c.text, error.what()) << c.what;
    }
    EXPECT_TRUE(target.isEmpty()) << c.what;
  }

  Bytes corrupt = lengthOnly;
  corrupt.insert(corrupt.end(), der.size(), 0x55);
  X509Certificate target;
  tvtest::MemoryInputStream in(corrupt);
  EXPECT_THROW(target.deserialize(in), Crypto::Error);
}

}  // namespace
