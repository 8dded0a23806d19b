// The private key of a certificate, and public key handles from a
// certificate's key info. A certificate's key is the key container whose
// public key equals the certificate's.
#include <wincrypt.h>
#include <winerror.h>

#include <libtasn1.h>

#include "advapi32/gostkey.h"
#include "advapi32/keyindex.h"
#include "advapi32/keyhandles.h"
#include "advapi32/provider.h"
#include "internal/win32call.h"

namespace tv {

namespace {

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

}  // namespace

}  // namespace tv

using namespace tv;

WINCRYPT32API BOOL WINAPI CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags, void* /*pvParameters*/,
                                                            HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey,
                                                            DWORD* pdwKeySpec, BOOL* pfCallerFreeProvOrNCryptKey) {
  return win32Bool([&] {
    require(pCert != nullptr && phCryptProvOrNCryptKey != nullptr);
    require(pCert->pbCertEncoded != nullptr && pCert->cbCertEncoded != 0);
    if ((dwFlags & ~kKnownAcquireFlags) != 0) fail(NTE_BAD_FLAGS);
    const GostPublicKey certificateKey = GostPublicKey::fromCertificate(pCert->pbCertEncoded, pCert->cbCertEncoded);
    const std::string container = findKeyContainer(certificateKey);
    // The key is opened now, so that a missing PIN fails the acquisition.
    *phCryptProvOrNCryptKey = acquireContainer(container, (dwFlags & CRYPT_ACQUIRE_SILENT_FLAG) != 0, true);
    if (pdwKeySpec != nullptr) *pdwKeySpec = AT_KEYEXCHANGE;
    if (pfCallerFreeProvOrNCryptKey != nullptr) *pfCallerFreeProvOrNCryptKey = TRUE;
  });
}

WINCRYPT32API BOOL WINAPI CryptImportPublicKeyInfo(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
                                                   PCERT_PUBLIC_KEY_INFO pInfo, HCRYPTKEY* phKey) {
  return win32Bool([&] {
    providerHandles().get(hCryptProv);
    require(pInfo != nullptr && phKey != nullptr);
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) fail(ERROR_FILE_NOT_FOUND);
    auto key = std::make_shared<GostPublicKey>(GostPublicKey::fromSpki(encodeKeyInfo(*pInfo)));
    *phKey = keyHandles().add(std::move(key));
  });
}
