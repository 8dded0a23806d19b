// The private key of a certificate: the key container whose public key is
// the certificate's.
#include <wincrypt.h>
#include <windows.h>
#include <winerror.h>

#include <gtest/gtest.h>

#include "support/certfactory.h"
#include "support/gostsigning.h"
#include "support/tempprefix.h"

namespace {

TEST(CertificatePrivateKey, IsTheContainerHoldingTheCertificatesPublicKey) {
  tvtest::TempPrefix prefix;
  tvtest::ScopedPinentry noPinentry;
  const tvtest::TestCertificate first = tvtest::makeCertificate(), second = tvtest::makeCertificate(),
                                keyless = tvtest::makeCertificate();
  tvtest::installKeyContainer("first-key", first.privateKeyPem, first.publicKeyDer);
  tvtest::installKeyContainer("second-key", second.privateKeyPem, second.publicKeyDer);
  const PCCERT_CONTEXT certificate =
      CertCreateCertificateContext(X509_ASN_ENCODING, second.der.data(), static_cast<DWORD>(second.der.size()));
  ASSERT_NE(certificate, nullptr);
  HCRYPTPROV provider = 0;
  DWORD keySpec = 0;
  BOOL callerFrees = FALSE;
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(certificate, 0, nullptr, &provider, &keySpec, &callerFrees))
      << std::hex << GetLastError();
  EXPECT_EQ(keySpec + callerFrees, (DWORD)AT_KEYEXCHANGE + TRUE);
  char container[16];
  DWORD size = sizeof container;
  ASSERT_TRUE(CryptGetProvParam(provider, PP_CONTAINER, reinterpret_cast<BYTE*>(container), &size, 0));
  EXPECT_STREQ(container, "second-key");
  CryptReleaseContext(provider, 0);
  CertFreeCertificateContext(certificate);

  const PCCERT_CONTEXT other =
      CertCreateCertificateContext(X509_ASN_ENCODING, keyless.der.data(), static_cast<DWORD>(keyless.der.size()));
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(other, 0, nullptr, &provider, &keySpec, &callerFrees));
  EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_NO_KEY_PROPERTY);
  CertFreeCertificateContext(other);
}

}  // namespace
