// Certificate contexts: what CertCreateCertificateContext fills in, what it
// refuses, the thumbprint's size protocol and key usages.
#include "support/certfactory.h"

#include <tvplatform.h>
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using tvtest::Bytes;

PCCERT_CONTEXT create(const Bytes& der) {
  return CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
}

ULONGLONG ticks(const FILETIME& time) { return (ULONGLONG)time.dwHighDateTime << 32 | time.dwLowDateTime; }
ULONGLONG ticksOf(std::time_t seconds) { return (ULONGLONG)(seconds + 11644473600LL) * 10000000ULL; }

Bytes blob(const BYTE* data, DWORD size) { return Bytes(data, data + size); }

TEST(CertificateContext, DescribesTheCertificateAsWindowsDoes) {
  tvtest::CertificateOptions options;
  options.key = tvtest::KeyKind::Gost2001ParamSetXchA;
  options.subject = tvtest::commonName("Subject");
  options.issuer = tvtest::commonName("Issuer");
  options.notBefore = tvtest::utc(1999, 3, 5, 7, 8, 9);  // UTCTime
  options.notAfter = tvtest::utc(2051, 1, 2, 3, 4, 5);   // GeneralizedTime
  options.serial = 0x0102030405060708ULL;
  options.keyUsages = {"1.3.6.1.5.5.7.3.2"};
  options.extensions = {{"1.2.643.100.111", tvtest::subjectSignToolValue(), false}};
  tvtest::TestCertificate made = tvtest::makeCertificate(options);

  PCCERT_CONTEXT context = create(made.der);
  ASSERT_NE(nullptr, context);
  const CERT_INFO& info = *context->pCertInfo;
  EXPECT_EQ(static_cast<DWORD>(X509_ASN_ENCODING), context->dwCertEncodingType);
  EXPECT_EQ(made.der, blob(context->pbCertEncoded, context->cbCertEncoded));
  EXPECT_EQ(nullptr, context->hCertStore);
  EXPECT_EQ(2u, info.dwVersion);  // CERT_V3
  EXPECT_EQ(tvtest::fromHex("080706050403020101"), blob(info.SerialNumber.pbData, info.SerialNumber.cbData));
  EXPECT_STREQ("1.2.643.2.2.3", info.SignatureAlgorithm.pszObjId);
  EXPECT_EQ(tvtest::nameDer(tvtest::commonName("Subject")), blob(info.Subject.pbData, info.Subject.cbData));
  EXPECT_EQ(tvtest::nameDer(tvtest::commonName("Issuer")), blob(info.Issuer.pbData, info.Issuer.cbData));
  EXPECT_EQ(ticksOf(options.notBefore), ticks(info.NotBefore));
  EXPECT_EQ(ticksOf(options.notAfter), ticks(info.NotAfter));

  // (The key is read by the signing and verifying tests, the extensions by
  // the certificate's own.)
  EXPECT_GE(info.cExtension, 2u);
  CertFreeCertificateContext(context);
}

TEST(CertificateContext, RefusesEncodingsThatAreNotCertificates) {
  Bytes good = tvtest::makeCertificate(tvtest::KeyKind::EcdsaP256).der;
  struct Case {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"garbage", tvtest::fromHex("0102030405")},
      {"truncated", Bytes(good.begin(), good.end() - 10)},
      {"a name, not a certificate", tvtest::nameDer(tvtest::commonName("x"))},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(nullptr, create(c.bytes)) << c.what;
    EXPECT_EQ(0x80093100u, GetLastError() & 0xFFFFFF00u) << c.what << ": a CRYPT_E_ASN1_* code";
  }
  SetLastError(0);
  EXPECT_EQ(nullptr, CertCreateCertificateContext(X509_ASN_ENCODING, good.data(), 0));
  EXPECT_EQ(static_cast<DWORD>(CRYPT_E_ASN1_EOD), GetLastError());
  EXPECT_EQ(nullptr, CertCreateCertificateContext(0, good.data(), static_cast<DWORD>(good.size())));
  EXPECT_EQ(static_cast<DWORD>(E_INVALIDARG), GetLastError());
}

TEST(CertificateContext, ThumbprintFollowsTheTwoCallSizeProtocol) {
  PCCERT_CONTEXT context = create(tvtest::makeCertificate(tvtest::KeyKind::Gost2001ParamSetA).der);
  BYTE hash[20];
  DWORD size = 19;
  SetLastError(0);
  EXPECT_FALSE(CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, hash, &size));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), GetLastError());
  EXPECT_EQ(20u, size);
  EXPECT_FALSE(CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(CRYPT_E_NOT_FOUND), GetLastError());
  CertFreeCertificateContext(context);
}

// (The usages listed are checked by the certificate's own tests.)
TEST(CertificateContext, EnhancedKeyUsageFollowsTheSizeProtocolAndTellsGoodForAll) {
  tvtest::CertificateOptions options;
  options.key = tvtest::KeyKind::EcdsaP256;
  options.keyUsages = {"1.3.6.1.5.5.7.3.4"};
  PCCERT_CONTEXT context = create(tvtest::makeCertificate(options).der);
  DWORD size = 0;
  ASSERT_TRUE(CertGetEnhancedKeyUsage(context, 0, nullptr, &size));
  std::vector<BYTE> buffer(size);
  DWORD small = size - 1;
  EXPECT_FALSE(CertGetEnhancedKeyUsage(context, 0, reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data()), &small));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), GetLastError());
  EXPECT_EQ(size, small);
  CertFreeCertificateContext(context);
  // Without the extension: no usages, and CRYPT_E_NOT_FOUND tells "good for all".
  context = create(tvtest::makeCertificate(tvtest::KeyKind::EcdsaP256).der);
  CERT_ENHKEY_USAGE none{};
  size = sizeof none;
  EXPECT_TRUE(CertGetEnhancedKeyUsage(context, 0, &none, &size));
  EXPECT_EQ(static_cast<DWORD>(CRYPT_E_NOT_FOUND), GetLastError());
  EXPECT_EQ(none.cUsageIdentifier, 0u);
  CertFreeCertificateContext(context);
}

}  // namespace
