// GOST R 34.10-2001 and 2012 keys of the stand-in's providers, on every
// published parameter set. GnuTLS signs on the curves it knows, as it does
// faster; libgcrypt on the others, and verifies and reads every key. A key
// of any other algorithm or of an unknown set is refused with
// NTE_BAD_ALGID. Signatures here are in RFC 4491 order (s then r, each
// big-endian, 64 or 128 bytes); the provider's own byte order is made in
// advapi32/hash.
#pragma once

#include <windef.h>

#include <gnutls/abstract.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gostsign/gostsign.h"

namespace tv {

using Bytes = std::vector<unsigned char>;

class GostPublicKey {
 public:
  // A SubjectPublicKeyInfo in DER.
  static GostPublicKey fromSpki(const Bytes& der);

  gost::KeyAlgorithm algorithm() const { return key_.parameterSet().algorithm; }
  bool sameKeyAs(const GostPublicKey& other) const;
  // The SubjectPublicKeyInfo (DER) made anew from the set and the point
  // alone: equal bytes for two keys exactly when sameKeyAs holds.
  Bytes canonicalSpki() const { return key_.toSpki(); }
  bool verify(const Bytes& digest, const Bytes& rfcSignature) const { return key_.verify(digest, rfcSignature); }

 private:
  friend class GostPrivateKey;
  explicit GostPublicKey(gost::PublicKey key) : key_(std::move(key)) {}
  gost::PublicKey key_;
};

class GostPrivateKey {
 public:
  // A PKCS#8 key (PEM); password is null for a plain key. A wrong password
  // fails with SCARD_W_WRONG_CHV.
  static GostPrivateKey fromPkcs8(const std::string& pem, const char* password);

  gost::KeyAlgorithm algorithm() const { return algorithm_; }
  // The digest must be as long as the key.
  Bytes sign(const Bytes& digest) const;
  // The public half of this key. On libgcrypt's curves it is reckoned on
  // each call, which costs as much as a signature.
  GostPublicKey publicKey() const;

 private:
  GostPrivateKey() = default;
  gost::KeyAlgorithm algorithm_ = gost::KeyAlgorithm::Gost2001;
  std::shared_ptr<gnutls_privkey_st> gnutls_;   // on GnuTLS's curves
  std::optional<GostPublicKey> gnutlsPublicKey_;
  std::shared_ptr<gost::PrivateKey> libgcrypt_;  // on the others
};

// True when a PKCS#8 PEM text holds an encrypted key.
bool isEncryptedPkcs8(const std::string& pem);

}  // namespace tv
