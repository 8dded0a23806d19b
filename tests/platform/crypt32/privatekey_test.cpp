// The private key of a certificate: the container its key property names,
// or, for a certificate that names none yet, the container whose public key
// is the certificate's, which it then names.
#include <wincrypt.h>
#include <windows.h>
#include <winerror.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/certfactory.h"
#include "support/gostsigning.h"
#include "support/tempprefix.h"

namespace {

std::string hexCode(DWORD code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

// The container that CryptAcquireCertificatePrivateKey opens for the
// certificate, or the failure's code in hexadecimal.
std::string containerOf(PCCERT_CONTEXT certificate, DWORD flags = 0) {
  HCRYPTPROV provider = 0;
  DWORD keySpec = 0;
  BOOL callerFrees = FALSE;
  std::string result;
  if (CryptAcquireCertificatePrivateKey(certificate, flags, nullptr, &provider, &keySpec, &callerFrees)) {
    EXPECT_EQ(keySpec + callerFrees, (DWORD)AT_KEYEXCHANGE + TRUE);
    char container[32] = {};
    DWORD size = sizeof container;
    EXPECT_TRUE(CryptGetProvParam(provider, PP_CONTAINER, reinterpret_cast<BYTE*>(container), &size, 0));
    result = container;
    CryptReleaseContext(provider, 0);
  } else {
    result = hexCode(GetLastError());
  }
  return result;
}

std::string containerOf(const tvtest::Bytes& der) {
  const PCCERT_CONTEXT certificate =
      CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
  EXPECT_NE(certificate, nullptr);
  const std::string result = containerOf(certificate);
  CertFreeCertificateContext(certificate);
  return result;
}

// The container the certificate's key property names, or the failure's code.
std::string linkedContainer(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
    return hexCode(GetLastError());
  std::vector<unsigned char> buffer(size);
  if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
    return hexCode(GetLastError());
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
  EXPECT_EQ(info->dwProvType, 75u);
  EXPECT_EQ(info->dwKeySpec, (DWORD)AT_KEYEXCHANGE);
  const std::u16string name(info->pwszContainerName);
  return std::string(name.begin(), name.end());
}

bool link(PCCERT_CONTEXT certificate, const char16_t* container) {
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = const_cast<char16_t*>(container);
  info.dwProvType = 75;
  info.dwKeySpec = AT_KEYEXCHANGE;
  return CertSetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
}

// The personal store's only certificate, from a new opening.
class PersonalCertificate {
 public:
  explicit PersonalCertificate(DWORD flags = 0)
      : store_(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER | flags, u"My")),
        certificate_(CertEnumCertificatesInStore(store_, nullptr)) {}
  ~PersonalCertificate() {
    CertFreeCertificateContext(certificate_);
    CertCloseStore(store_, 0);
  }
  PCCERT_CONTEXT get() const { return certificate_; }

 private:
  HCERTSTORE store_;
  PCCERT_CONTEXT certificate_;
};

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
  // when opened). The first container in name order holding a key is its
  // container.
  tvtest::writeFile(prefix / "keys/another/private.pem", first.privateKeyPem);
  tvtest::writeFile(prefix / "keys/another/public.der",
                    std::string(first.publicKeyDer.begin(), first.publicKeyDer.end()));
  EXPECT_EQ(containerOf(second.der), noKey);
  EXPECT_EQ(containerOf(first.der), "another");
  EXPECT_EQ(containerOf(second.der), noKey);
}

// A store's certificate found by its key once names it from then on, in the
// store's folder: later openings read the link and search no more.
TEST(CertificatePrivateKey, IsNamedByTheCertificatesKeyPropertyFoundOnceForOldStores) {
  tvtest::TempPrefix prefix;
  tvtest::ScopedPinentry noPinentry;
  const tvtest::TestCertificate mine = tvtest::makeCertificate(), other = tvtest::makeCertificate();
  tvtest::installCertificate(prefix.path(), "mine.cer", mine.der);
  tvtest::installKeyContainer("b-mine", mine.privateKeyPem, mine.publicKeyDer);
  tvtest::installKeyContainer("a-other", other.privateKeyPem, other.publicKeyDer);
  const std::string notFound = "0x80092004";  // CRYPT_E_NOT_FOUND
  {
    const PersonalCertificate old;
    EXPECT_EQ(linkedContainer(old.get()), notFound);
    EXPECT_EQ(containerOf(old.get()), "b-mine");
    EXPECT_EQ(linkedContainer(old.get()), "b-mine");
  }
  // The container renamed and its old name given to another key: the link
  // is followed as it stands, and searched for only when there is none.
  std::filesystem::rename(prefix / "keys/b-mine", prefix / "keys/c-moved");
  tvtest::installKeyContainer("b-mine", other.privateKeyPem, other.publicKeyDer);
  const struct {
    const char* what;
    const char16_t* container;  // linked by CertSetCertificateContextProperty
    bool forget;                // the link removed
    std::string expected;
  } cases[] = {
      {"a container of another key", nullptr, false, "0x80090015"},  // NTE_BAD_PUBLIC_KEY, from the old link
      {"the key's new container", u"c-moved", false, "c-moved"},
      {"a missing container", u"gone", false, "0x80090016"},  // NTE_BAD_KEYSET
      {"no link: found again", nullptr, true, "c-moved"},
  };
  for (const auto& c : cases) {
    const PersonalCertificate certificate;
    if (c.container != nullptr) {
      EXPECT_TRUE(link(certificate.get(), c.container)) << c.what;
    }
    if (c.forget) {
      EXPECT_TRUE(CertSetCertificateContextProperty(certificate.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr));
    }
    EXPECT_EQ(containerOf(PersonalCertificate().get()), c.expected) << c.what;
  }
  // A store opened read-only keeps the link it has.
  const PersonalCertificate readOnly(CERT_STORE_READONLY_FLAG);
  EXPECT_FALSE(link(readOnly.get(), u"a-other"));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(linkedContainer(readOnly.get()), "c-moved");
}

// A key protected by a PIN is opened when acquired: with nobody to ask (or a
// silent acquisition) the acquisition fails as the user's cancel does.
TEST(CertificatePrivateKey, FailsAsCancelledWhenNobodyCanGiveThePin) {
  tvtest::TempPrefix prefix;
  const tvtest::TestCertificate key = tvtest::makeCertificate();
  tvtest::installCertificate(prefix.path(), "locked.cer", key.der);
  tvtest::installKeyContainer("locked", tvtest::encryptPrivateKey(key.privateKeyPem, "1234"), key.publicKeyDer);
  const std::string cancelled = "0x8010006E";  // SCARD_W_CANCELLED_BY_USER
  const PersonalCertificate certificate;
  {
    tvtest::ScopedPinentry nobody;
    EXPECT_EQ(containerOf(certificate.get()), cancelled);
  }
  tvtest::ScopedPinentry answers(tvtest::writePinentryScript(prefix.path(), "D 1234"));
  EXPECT_EQ(containerOf(certificate.get(), CRYPT_ACQUIRE_SILENT_FLAG), cancelled);
  EXPECT_EQ(containerOf(certificate.get()), "locked");
}

}  // namespace
