// GOST R 34.11-94 hashes (0x801E) on the provider, and signing and verifying
// them. The provider's byte orders: the digest as the hash function gives it
// (GnuTLS's GOSTR_94 output), and the signature as RFC 4491 has it (s then r,
// big-endian) with all 64 bytes reversed.
#include <wincrypt.h>
#include <winerror.h>

#include <gnutls/crypto.h>

#include <algorithm>
#include <cstring>

#include "advapi32/gostkey.h"
#include "advapi32/keyhandles.h"
#include "advapi32/provider.h"
#include "internal/win32call.h"

namespace tv {

namespace {

// One hash object. It keeps its provider context alive, so that releasing
// the context first cannot leave it pointing at nothing.
class Hash {
 public:
  explicit Hash(std::shared_ptr<ProviderContext> provider) : provider_(std::move(provider)) {
    if (gnutls_hash_init(&state_, GNUTLS_DIG_GOSTR_94) < 0) throw std::bad_alloc();
  }
  ~Hash() { gnutls_hash_deinit(state_, nullptr); }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;

  void update(const BYTE* data, DWORD size) {
    if (value_) fail(NTE_BAD_HASH_STATE);
    if (size != 0 && gnutls_hash(state_, data, size) < 0) fail(NTE_FAIL);
  }

  // Reading the value ends the hash: no more data may be added.
  const Bytes& value() {
    if (!value_) {
      Bytes digest(kGostDigestSize);
      gnutls_hash_output(state_, digest.data());
      value_ = std::move(digest);
    }
    return *value_;
  }

  void setValue(const BYTE* digest) { value_ = Bytes(digest, digest + kGostDigestSize); }

  ProviderContext& provider() { return *provider_; }

 private:
  std::shared_ptr<ProviderContext> provider_;
  gnutls_hash_hd_t state_ = nullptr;
  std::optional<Bytes> value_;
};

HandleTable<Hash>& hashHandles() {
  static HandleTable<Hash> handles(NTE_BAD_HASH);
  return handles;
}

// The size half of the two-call protocol, for outputs made only when they
// fit: a null buffer asks for the size, a small one fails with ERROR_MORE_DATA.
void reportSize(DWORD size, const BYTE* out, DWORD* ioSize) {
  *ioSize = size;
  if (out != nullptr) fail(ERROR_MORE_DATA);
}

Bytes reversed(Bytes bytes) {
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

}  // namespace

}  // namespace tv

using namespace tv;

WINADVAPI BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                                      HCRYPTHASH* phHash) {
  return win32Bool([&] {
    auto provider = providerHandles().get(hProv);
    require(phHash != nullptr);
    if (Algid != CALG_GR3411) fail(NTE_BAD_ALGID);
    if (hKey != 0) fail(NTE_BAD_KEY);
    if (dwFlags != 0) fail(NTE_BAD_FLAGS);
    *phHash = hashHandles().add(std::make_shared<Hash>(std::move(provider)));
  });
}

WINADVAPI BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
  return win32Bool([&] {
    const auto hash = hashHandles().get(hHash);
    require(pbData != nullptr || dwDataLen == 0);
    if (dwFlags != 0) fail(NTE_BAD_FLAGS);
    hash->update(pbData, dwDataLen);
  });
}

WINADVAPI BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                                        DWORD dwFlags) {
  return win32Bool([&] {
    const auto hash = hashHandles().get(hHash);
    require(pdwDataLen != nullptr);
    if (dwFlags != 0) fail(NTE_BAD_FLAGS);
    switch (dwParam) {
      case HP_ALGID: {
        const DWORD algorithm = CALG_GR3411;
        return copyOut(&algorithm, sizeof algorithm, pbData, pdwDataLen);
      }
      case HP_HASHSIZE: {
        const DWORD size = kGostDigestSize;
        return copyOut(&size, sizeof size, pbData, pdwDataLen);
      }
      case HP_HASHVAL:
        // A size query does not end the hash; reading the value does.
        if (pbData == nullptr || *pdwDataLen < kGostDigestSize) return reportSize(kGostDigestSize, pbData, pdwDataLen);
        return copyOut(hash->value().data(), kGostDigestSize, pbData, pdwDataLen);
      default:
        fail(NTE_BAD_TYPE);
    }
  });
}

WINADVAPI BOOL WINAPI CryptSetHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
  return win32Bool([&] {
    const auto hash = hashHandles().get(hHash);
    if (dwParam != HP_HASHVAL) fail(NTE_BAD_TYPE);
    require(pbData != nullptr);
    if (dwFlags != 0) fail(NTE_BAD_FLAGS);
    // As on Windows, the value is read at the hash's own size.
    hash->setValue(pbData);
  });
}

WINADVAPI BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash) {
  return win32Bool([&] { hashHandles().remove(hHash); });
}

WINADVAPI BOOL WINAPI CryptSignHashA(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR /*szDescription*/, DWORD dwFlags,
                                     BYTE* pbSignature, DWORD* pdwSigLen) {
  return win32Bool([&] {
    const auto hash = hashHandles().get(hHash);
    require(pdwSigLen != nullptr);
    if (dwFlags != 0) fail(NTE_BAD_FLAGS);
    // A container holds one key, the key-exchange key.
    if (dwKeySpec != AT_KEYEXCHANGE || !hash->provider().hasKey()) fail(NTE_NO_KEY);
    if (pbSignature == nullptr || *pdwSigLen < kGostSignatureSize)
      return reportSize(kGostSignatureSize, pbSignature, pdwSigLen);
    const Bytes signature = reversed(hash->provider().privateKey().sign(hash->value()));
    copyOut(signature.data(), kGostSignatureSize, pbSignature, pdwSigLen);
  });
}

WINADVAPI BOOL WINAPI CryptVerifySignatureA(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen,
                                            HCRYPTKEY hPubKey, LPCSTR /*szDescription*/, DWORD dwFlags) {
  return win32Bool([&] {
    const auto hash = hashHandles().get(hHash);
    const auto key = keyHandles().get(hPubKey);
    require(pbSignature != nullptr);
    if (dwFlags != 0) fail(NTE_BAD_FLAGS);
    if (dwSigLen != kGostSignatureSize) fail(NTE_BAD_SIGNATURE);
    const Bytes signature = reversed(Bytes(pbSignature, pbSignature + dwSigLen));
    if (!key->verify(hash->value(), signature)) fail(NTE_BAD_SIGNATURE);
  });
}
