// GOST R 34.10-2001 and 2012 signatures on every published parameter set,
// computed by libgcrypt: GnuTLS knows only two of the curves. Keys are read
// from and written to the forms certificates and key files hold.
//
// Byte orders: a point is x then y, each little-endian, as a key info holds
// it; a private scalar is little-endian; a digest is taken as the hash gives
// it and read as a little-endian number; a signature is RFC 4491's s then r,
// each big-endian and as long as the key.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tv::gost {

using Bytes = std::vector<unsigned char>;

enum class KeyAlgorithm { Gost2001, Gost2012_256, Gost2012_512 };

struct ParameterSet {
  const char* name;   // as the user names it: "A", "XchA", ...
  const char* oid;    // as key infos name it
  const char* curve;  // libgcrypt's name of the curve
  KeyAlgorithm algorithm;
};

// The twelve published parameter sets first: 2001 CryptoPro A, B, C, XchA,
// XchB; 2012 256-bit TC26 A, B, C, D; 2012 512-bit TC26 A, B, C. Then the
// 2001 sets' OIDs as 256-bit 2012 keys may name them.
const std::vector<ParameterSet>& parameterSets();
// The set of the algorithm with that name (case-insensitive), or null.
const ParameterSet* parameterSetNamed(KeyAlgorithm algorithm, const std::string& name);
// The curve of a key of the algorithm whose key info names the OID, or null.
// A 256-bit 2012 key may name a 2001 set: the curves are the same.
const ParameterSet* parameterSetOf(KeyAlgorithm algorithm, const std::string& oid);

// The public key algorithm's OID, its hash's OID, and the key's size in
// bytes (a signature is twice that).
const char* keyAlgorithmOid(KeyAlgorithm algorithm);
const char* digestOid(KeyAlgorithm algorithm);
size_t keySize(KeyAlgorithm algorithm);
// The algorithm of a public key algorithm OID; false when it is no GOST one.
bool keyAlgorithmOf(const std::string& oid, KeyAlgorithm& algorithm);

// Malformed keys and failed arithmetic are raised as this.
struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class PublicKey {
 public:
  PublicKey(const ParameterSet& set, const Bytes& point);
  // A SubjectPublicKeyInfo (DER) holding a GOST key.
  static PublicKey fromSpki(const Bytes& der);
  // The subject key of a certificate (DER).
  static PublicKey fromCertificate(const Bytes& der);

  const ParameterSet& parameterSet() const { return *set_; }
  const Bytes& point() const { return point_; }
  Bytes toSpki() const;
  // False for a signature of the wrong size or one that does not hold.
  bool verify(const Bytes& digest, const Bytes& signature) const;
  // Whether this key signed the certificate (DER): its signature over the
  // to-be-signed part, hashed with this key's hash. A malformed certificate
  // raises Error.
  bool signedCertificate(const Bytes& certificate) const;

 private:
  const ParameterSet* set_;
  Bytes point_;
  std::shared_ptr<void> key_;  // libgcrypt's S-expression
};

class PrivateKey {
 public:
  PrivateKey(const ParameterSet& set, const Bytes& scalar);
  static PrivateKey generate(const ParameterSet& set);
  // An unencrypted PKCS#8 PrivateKeyInfo (DER) holding a GOST key.
  static PrivateKey fromPkcs8(const Bytes& der);

  const ParameterSet& parameterSet() const { return *set_; }
  const Bytes& scalar() const { return scalar_; }
  // An unencrypted PKCS#8 PrivateKeyInfo (DER), the scalar in an inner
  // OCTET STRING, little-endian, as GnuTLS writes it.
  Bytes toPkcs8() const;
  // The digest must be as long as the key.
  Bytes sign(const Bytes& digest) const;
  // Replaces a certificate's (DER) signature, of this key's size, with this
  // key's over its to-be-signed part.
  void signCertificate(Bytes& certificate) const;
  PublicKey publicKey() const;

 private:
  const ParameterSet* set_;
  Bytes scalar_;
  std::shared_ptr<void> key_;
};

}  // namespace tv::gost
