// GOST R 34.10-2001 keys of the stand-in's provider, held in GnuTLS objects.
// Only the parameter sets 1.2.643.2.2.35.1 and 1.2.643.2.2.36.0 (one curve)
// are accepted; a key of any other algorithm or parameter set is refused with
// NTE_BAD_ALGID. Signatures here are in RFC 4491 order (s then r, each 32
// bytes big-endian); the provider's own byte order is made in advapi32/hash.
#pragma once

#include <windef.h>

#include <gnutls/abstract.h>

#include <memory>
#include <string>
#include <vector>

namespace tv {

using Bytes = std::vector<unsigned char>;

constexpr DWORD kGostDigestSize = 32;
constexpr DWORD kGostSignatureSize = 64;

class GostPublicKey {
 public:
  // A SubjectPublicKeyInfo in DER.
  static GostPublicKey fromSpki(const Bytes& der);

  bool sameKeyAs(const GostPublicKey& other) const;
  // The SubjectPublicKeyInfo (DER) made anew from the curve and the point
  // alone: equal bytes for two keys exactly when sameKeyAs holds.
  Bytes canonicalSpki() const;
  bool verify(const Bytes& digest, const Bytes& rfcSignature) const;

 private:
  friend class GostPrivateKey;
  explicit GostPublicKey(gnutls_pubkey_t key);
  std::shared_ptr<gnutls_pubkey_st> key_;
};

class GostPrivateKey {
 public:
  // A PKCS#8 key (PEM); password is null for a plain key. A wrong password
  // fails with SCARD_W_WRONG_CHV.
  static GostPrivateKey fromPkcs8(const std::string& pem, const char* password);

  Bytes sign(const Bytes& digest) const;
  // The public half of this key.
  GostPublicKey publicKey() const;

 private:
  explicit GostPrivateKey(gnutls_privkey_t key);
  std::shared_ptr<gnutls_privkey_st> key_;
};

// True when a PKCS#8 PEM text holds an encrypted key.
bool isEncryptedPkcs8(const std::string& pem);

}  // namespace tv
