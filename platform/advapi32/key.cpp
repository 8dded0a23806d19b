// Key handles of the provider: the public half of a container's key pair
// (CryptGetUserKey) and public keys imported from elsewhere (CryptImportKey),
// both exported as a PUBLICKEYBLOB.
//
// The provider's PUBLICKEYBLOB: a BLOBHEADER (bType PUBLICKEYBLOB, bVersion
// 2, aiKeyAlg CALG_GR3410EL) and then the key's SubjectPublicKeyInfo in DER.
// An exported key's SubjectPublicKeyInfo is made anew from its curve and
// point, so that two exports are the same bytes exactly when the keys are.
#include <wincrypt.h>
#include <winerror.h>

#include <cstring>

#include "advapi32/gostkey.h"
#include "advapi32/keycontainer.h"
#include "advapi32/keyhandles.h"
#include "advapi32/provider.h"
#include "internal/win32call.h"

namespace tv {

namespace {

Bytes publicKeyBlob(const GostPublicKey& key) {
  const BLOBHEADER header{PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, CALG_GR3410EL};
  const Bytes spki = key.canonicalSpki();
  Bytes blob(sizeof header);
  std::memcpy(blob.data(), &header, sizeof header);
  blob.insert(blob.end(), spki.begin(), spki.end());
  return blob;
}

GostPublicKey keyOfBlob(const BYTE* data, DWORD size) {
  BLOBHEADER header;
  if (size <= sizeof header) fail(NTE_BAD_DATA);
  std::memcpy(&header, data, sizeof header);
  if (header.bType != PUBLICKEYBLOB) fail(NTE_BAD_TYPE);
  if (header.bVersion != CUR_BLOB_VERSION) fail(NTE_BAD_VER);
  if (header.aiKeyAlg != CALG_GR3410EL) fail(NTE_BAD_ALGID);
  return GostPublicKey::fromSpki(Bytes(data + sizeof header, data + size));
}

}  // namespace

HandleTable<GostPublicKey>& keyHandles() {
  static HandleTable<GostPublicKey> handles(NTE_BAD_KEY);
  return handles;
}

}  // namespace tv

using namespace tv;

WINADVAPI BOOL WINAPI CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
  return win32Bool([&] {
    const auto context = providerHandles().get(hProv);
    require(phUserKey != nullptr);
    // A container holds one key, the key-exchange key.
    if (dwKeySpec != AT_KEYEXCHANGE || !context->hasKey()) fail(NTE_NO_KEY);
    auto key = std::make_shared<GostPublicKey>(GostPublicKey::fromSpki(readPublicKeyFile(context->container())));
    *phUserKey = keyHandles().add(std::move(key));
  });
}

WINADVAPI BOOL WINAPI CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                                     DWORD dwFlags, HCRYPTKEY* phKey) {
  return win32Bool([&] {
    providerHandles().get(hProv);
    require(pbData != nullptr && phKey != nullptr);
    if (hPubKey != 0) fail(NTE_BAD_KEY);
    if (dwFlags != 0) fail(NTE_BAD_FLAGS);
    *phKey = keyHandles().add(std::make_shared<GostPublicKey>(keyOfBlob(pbData, dwDataLen)));
  });
}

WINADVAPI BOOL WINAPI CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags,
                                     BYTE* pbData, DWORD* pdwDataLen) {
  return win32Bool([&] {
    const auto key = keyHandles().get(hKey);
    require(pdwDataLen != nullptr);
    if (hExpKey != 0) fail(NTE_BAD_KEY);
    if (dwBlobType != PUBLICKEYBLOB) fail(NTE_BAD_TYPE);
    if (dwFlags != 0) fail(NTE_BAD_FLAGS);
    const Bytes blob = publicKeyBlob(*key);
    copyOut(blob.data(), static_cast<DWORD>(blob.size()), pbData, pdwDataLen);
  });
}

WINADVAPI BOOL WINAPI CryptDestroyKey(HCRYPTKEY hKey) {
  return win32Bool([&] { keyHandles().remove(hKey); });
}
