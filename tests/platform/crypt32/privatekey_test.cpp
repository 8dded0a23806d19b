// The private key of a certificate: the key container whose public key is
// the certificate's, found again after containers come and go.
#include <wincrypt.h>
#include <windows.h>
#include <winerror.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/certfactory.h"
#include "support/gostsigning.h"
#include "support/tempprefix.h"

namespace {

// The container that CryptAcquireCertificatePrivateKey opens for the
// certificate, or the failure's code in hexadecimal.
std::string containerOf(const tvtest::Bytes& der) {
  const PCCERT_CONTEXT certificate =
      CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  EXPECT_NE(certificate, nullptr);
  HCRYPTPROV provider = 0;
  DWORD keySpec = 0;
  BOOL callerFrees = FALSE;
  std::string result;
  if (CryptAcquireCertificatePrivateKey(certificate, 0, nullptr, &provider, &keySpec, &callerFrees)) {
    EXPECT_EQ(keySpec + callerFrees, (DWORD)AT_KEYEXCHANGE + TRUE);
    char container[32] = {};
    DWORD size = sizeof container;
    EXPECT_TRUE(CryptGetProvParam(provider, PP_CONTAINER, reinterpret_cast<BYTE*>(container), &size, 0));
    result = container;
    CryptReleaseContext(provider, 0);
  } else {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(GetLastError()));
    result = code;
  }
  CertFreeCertificateContext(certificate);
  return result;
}

TEST(CertificatePrivateKey, IsTheContainerHoldingTheCertificatesPublicKeyAsTheContainersAreNow) {
  tvtest::TempPrefix prefix;
  tvtest::ScopedPinentry noPinentry;
  const tvtest::TestCertificate first = tvtest::makeCertificate(), second = tvtest::makeCertificate();
  const std::string noKey = "0x8009200B";  // CRYPT_E_NO_KEY_PROPERTY
  tvtest::installKeyContainer("first-key", first.privateKeyPem, first.publicKeyDer);
  EXPECT_EQ(containerOf(second.der), noKey);
  tvtest::installKeyContainer("second-key", second.privateKeyPem, second.publicKeyDer);
  EXPECT_EQ(containerOf(second.der), "second-key");
  EXPECT_EQ(containerOf(first.der), "first-key");

  // Removed, then the same key in another container.
  std::filesystem::remove_all(prefix / "keys/second-key");
  EXPECT_EQ(containerOf(second.der), noKey);
  tvtest::installKeyContainer("another", second.privateKeyPem, second.publicKeyDer);
  EXPECT_EQ(containerOf(second.der), "another");

  // A container's key pair replaced in place (a mismatched pair is refused
  // when opened); then a damaged index. The first container in name order
  // holding a key is its container.
  tvtest::writeFile(prefix / "keys/another/private.pem", first.privateKeyPem);
  tvtest::writeFile(prefix / "keys/another/public.der",
                    std::string(first.publicKeyDer.begin(), first.publicKeyDer.end()));
  EXPECT_EQ(containerOf(second.der), noKey);
  EXPECT_EQ(containerOf(first.der), "another");
  tvtest::writeFile(prefix / "keys.index", "tellvane key index 1\nrubbish\n");
  EXPECT_EQ(containerOf(first.der), "another");
  EXPECT_EQ(containerOf(second.der), noKey);
}

}  // namespace
