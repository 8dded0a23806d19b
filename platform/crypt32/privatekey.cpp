// The private key of a certificate, and public key handles from a
// certificate's key info. A certificate names its key in its
// CERT_KEY_PROV_INFO_PROP_ID: the provider type and container that
// CryptAcquireCertificatePrivateKey opens, through advapi32's exported
// functions. A certificate stored before it named its key is matched once
// by its public key, and then names it.
#include <wincrypt.h>
#include <winerror.h>

#include <libtasn1.h>

#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "crypt32/keylink.h"
#include "internal/certificatekey.h"
#include "internal/utf.h"
#include "internal/win32call.h"

namespace tv {

namespace {

using Bytes = std::vector<unsigned char>;

constexpr DWORD kKnownAcquireFlags =
    CRYPT_ACQUIRE_CACHE_FLAG | CRYPT_ACQUIRE_USE_PROV_INFO_FLAG | CRYPT_ACQUIRE_COMPARE_KEY_FLAG | CRYPT_ACQUIRE_SILENT_FLAG;

void append(Bytes& out, const unsigned char* data, size_t size) { out.insert(out.end(), data, data + size); }

// The tag and length of a DER element (0x30 for a SEQUENCE).
void appendHeader(Bytes& out, unsigned char tag, size_t length) {
  unsigned char encoded[16];
  int size = sizeof encoded;
  asn1_length_der(length, encoded, &size);
  out.push_back(tag);
  append(out, encoded, static_cast<size_t>(size));
}

// The SubjectPublicKeyInfo DER of a CERT_PUBLIC_KEY_INFO, so that GnuTLS can
// read it.
Bytes encodeKeyInfo(const CERT_PUBLIC_KEY_INFO& info) {
  require(info.Algorithm.pszObjId != nullptr && info.PublicKey.pbData != nullptr);
  require(info.PublicKey.cUnusedBits < 8 && info.PublicKey.cbData < (1u << 20) &&
          info.Algorithm.Parameters.cbData < (1u << 20));
  unsigned char oid[128];
  int oidSize = sizeof oid;
  if (asn1_object_id_der(info.Algorithm.pszObjId, oid, &oidSize, 0) != ASN1_SUCCESS) fail(NTE_BAD_ALGID);

  Bytes algorithm;
  appendHeader(algorithm, 0x30, static_cast<size_t>(oidSize) + info.Algorithm.Parameters.cbData);
  append(algorithm, oid, static_cast<size_t>(oidSize));
  if (info.Algorithm.Parameters.cbData != 0) {
    require(info.Algorithm.Parameters.pbData != nullptr);
    append(algorithm, info.Algorithm.Parameters.pbData, info.Algorithm.Parameters.cbData);
  }

  Bytes bits(info.PublicKey.cbData + 16);
  int bitsSize = static_cast<int>(bits.size());
  asn1_bit_der(info.PublicKey.pbData, static_cast<int>(info.PublicKey.cbData * 8 - info.PublicKey.cUnusedBits),
               bits.data(), &bitsSize);

  Bytes spki;
  appendHeader(spki, 0x30, algorithm.size() + 1 + static_cast<size_t>(bitsSize));
  append(spki, algorithm.data(), algorithm.size());
  spki.push_back(0x03);  // BIT STRING; asn1_bit_der gives its length and content
  append(spki, bits.data(), static_cast<size_t>(bitsSize));
  return spki;
}

// A provider context, released unless handed on.
class Provider {
 public:
  Provider(const KeyLink& link, bool silent) {
    const DWORD flags = link.flags | (silent ? CRYPT_SILENT : 0);
    if (!CryptAcquireContextW(&handle_, link.container.c_str(), link.provider.empty() ? nullptr : link.provider.c_str(),
                              link.providerType, flags))
      fail(GetLastError());
  }
  ~Provider() {
    if (handle_ != 0) CryptReleaseContext(handle_, 0);
  }
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;

  HCRYPTPROV get() const { return handle_; }
  HCRYPTPROV release() { return std::exchange(handle_, 0); }

 private:
  HCRYPTPROV handle_ = 0;
};

// A key handle, destroyed with the object.
class Key {
 public:
  explicit Key(HCRYPTKEY handle) : handle_(handle) {}
  ~Key() { CryptDestroyKey(handle_); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  // The key as its provider exports it: equal bytes for equal keys.
  Bytes exported() const {
    DWORD size = 0;
    if (!CryptExportKey(handle_, 0, PUBLICKEYBLOB, 0, nullptr, &size)) fail(GetLastError());
    Bytes blob(size);
    if (!CryptExportKey(handle_, 0, PUBLICKEYBLOB, 0, blob.data(), &size)) fail(GetLastError());
    blob.resize(size);
    return blob;
  }

 private:
  HCRYPTKEY handle_;
};

// Whether the context's key is the certificate's.
bool holdsKeyOf(HCRYPTPROV provider, DWORD keySpec, PCCERT_CONTEXT certificate) {
  HCRYPTKEY handle = 0;
  if (!CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING, &certificate->pCertInfo->SubjectPublicKeyInfo, &handle))
    fail(GetLastError());
  const Key certificateKey(handle);
  if (!CryptGetUserKey(provider, keySpec, &handle)) fail(GetLastError());
  const Key containerKey(handle);
  return certificateKey.exported() == containerKey.exported();
}

// The link of a certificate that has none yet: the container of its public
// key, which the certificate then names.
KeyLink findKeyLink(PCCERT_CONTEXT certificate) {
  const Bytes spki = encodeKeyInfo(certificate->pCertInfo->SubjectPublicKeyInfo);
  KeyLink link;
  link.providerType = PROV_GOST_2001_DH;
  link.container = toUtf16(findContainerOfKey(link.providerType, spki.data(), static_cast<DWORD>(spki.size())));
  link.keySpec = AT_KEYEXCHANGE;
  return link;
}

}  // namespace

}  // namespace tv

using namespace tv;

WINCRYPT32API BOOL WINAPI CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags, void* /*pvParameters*/,
                                                            HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey,
                                                            DWORD* pdwKeySpec, BOOL* pfCallerFreeProvOrNCryptKey) {
  return win32Bool([&] {
    require(pCert != nullptr && phCryptProvOrNCryptKey != nullptr);
    require(pCert->pbCertEncoded != nullptr && pCert->cbCertEncoded != 0 && pCert->pCertInfo != nullptr);
    if ((dwFlags & ~kKnownAcquireFlags) != 0) fail(NTE_BAD_FLAGS);
    // A key of an algorithm or curve that GnuTLS does not know is decoded
    // without its bits: none of this platform's providers can use it.
    if (pCert->pCertInfo->SubjectPublicKeyInfo.PublicKey.cbData == 0) fail(NTE_BAD_ALGID);
    std::optional<KeyLink> link = readKeyLink(pCert);
    const bool found = !link;
    if (found) link = findKeyLink(pCert);
    Provider provider(*link, (dwFlags & CRYPT_ACQUIRE_SILENT_FLAG) != 0);
    if (!holdsKeyOf(provider.get(), link->keySpec, pCert)) fail(NTE_BAD_PUBLIC_KEY);
    if (found) {
      // Kept for the next time; a store that cannot keep it is searched again then.
      try {
        writeKeyLink(pCert, &*link, true);
      } catch (const Win32Failure&) {
      }
    }
    // The key is opened now, so that a missing PIN fails the acquisition.
    openPrivateKeyNow(provider.get());
    *phCryptProvOrNCryptKey = provider.release();
    if (pdwKeySpec != nullptr) *pdwKeySpec = link->keySpec;
    if (pfCallerFreeProvOrNCryptKey != nullptr) *pfCallerFreeProvOrNCryptKey = TRUE;
  });
}

WINCRYPT32API BOOL WINAPI CryptImportPublicKeyInfo(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
                                                   PCERT_PUBLIC_KEY_INFO pInfo, HCRYPTKEY* phKey) {
  return win32Bool([&] {
    require(pInfo != nullptr && phKey != nullptr);
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) fail(ERROR_FILE_NOT_FOUND);
    // The provider's PUBLICKEYBLOB: its header and the SubjectPublicKeyInfo.
    const BLOBHEADER header{PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, CALG_GR3410EL};
    Bytes blob(sizeof header);
    std::memcpy(blob.data(), &header, sizeof header);
    const Bytes spki = encodeKeyInfo(*pInfo);
    blob.insert(blob.end(), spki.begin(), spki.end());
    if (!CryptImportKey(hCryptProv, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, phKey)) fail(GetLastError());
  });
}
