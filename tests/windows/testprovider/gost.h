// The GOST algorithms of the test provider, over libgcrypt: what each
// provider type offers, the curves keys may lie on, hashing and signing in
// the byte orders a GOST provider uses.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <gcrypt.h>

#include <string>
#include <vector>

namespace testprovider {

using Bytes = std::vector<BYTE>;

// A failure that the entry point reports as its last error.
struct Failure {
  DWORD code;
};

// What a provider of one type offers: its hash and the algorithm identifiers
// of its two keys. A new provider type is one more row.
struct ProviderKind {
  DWORD type;
  ALG_ID hash;
  int mdAlgorithm;          // libgcrypt's name for that hash
  const char* hashParams;   // the hash's parameter set, in exported public keys
  ALG_ID exchangeAlgorithm;  // AT_KEYEXCHANGE
  ALG_ID signatureAlgorithm;  // AT_SIGNATURE
  const char* newKeyCurve;  // the curve of a key made by CPGenKey
};

// The row of a provider type, or null.
const ProviderKind* providerKind(DWORD type);

// An owned S-expression.
class Sexp {
 public:
  Sexp() = default;
  explicit Sexp(gcry_sexp_t value) : value_(value) {}
  ~Sexp() { gcry_sexp_release(value_); }
  Sexp(Sexp&& other) noexcept : value_(other.value_) { other.value_ = nullptr; }
  Sexp& operator=(Sexp&& other) noexcept {
    std::swap(value_, other.value_);
    return *this;
  }
  Sexp(const Sexp&) = delete;
  Sexp& operator=(const Sexp&) = delete;
  gcry_sexp_t get() const { return value_; }
  // The sublist that starts with the token, or an empty one.
  Sexp find(const char* token) const;
  // The data of the list's element, as text.
  std::string text(int index) const;

 private:
  gcry_sexp_t value_ = nullptr;
};

// A hash object: fed, or given its value; then read or signed, after which
// it takes no more data.
class Digest {
 public:
  explicit Digest(const ProviderKind& kind);
  ~Digest();
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;

  ALG_ID algorithm() const { return algorithm_; }
  DWORD size() const { return size_; }
  void update(const BYTE* data, DWORD size);
  void setValue(const BYTE* data, DWORD size);
  // The digest as the hash outputs it; the hash is finished.
  const Bytes& value();

 private:
  ALG_ID algorithm_;
  gcry_md_hd_t handle_ = nullptr;
  DWORD size_;
  Bytes value_;  // empty until finished
};

// A GOST R 34.10 key: private (it can sign) or public alone.
class Key {
 public:
  // "curve" is the parameter set's object identifier; "d" the private value
  // as hexadecimal digits, most significant first.
  Key(std::string curve, std::string privateHex);
  // A new private key on the curve.
  static Key generate(const std::string& curve);

  const std::string& curve() const { return curve_; }
  const std::string& privateHex() const { return privateHex_; }
  DWORD bits() const { return 8 * coordinateSize_; }
  DWORD signatureSize() const { return 2 * coordinateSize_; }

  // The signature of a digest as a GOST provider gives it: RFC 4491's
  // big-endian s || r with all bytes reversed. The digest is read as a
  // little-endian number.
  Bytes sign(const Bytes& digest) const;
  bool verify(const Bytes& digest, const Bytes& signature) const;
  // The public key blob of CryptExportKey: BLOBHEADER, the magic "MAG1", the
  // key's bit length, the DER parameters (curve and hash parameter set) and
  // the point's x and y, each little-endian.
  Bytes publicKeyBlob(ALG_ID algorithm, const char* hashParams) const;

 private:
  Sexp privateKey() const;
  Sexp publicKey() const;

  std::string curve_;        // object identifier
  const char* curveName_;    // libgcrypt's name for it
  std::string privateHex_;
  DWORD coordinateSize_;
  Bytes point_;              // 04 || x || y, big-endian
};

}  // namespace testprovider
