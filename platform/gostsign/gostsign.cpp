#include "gostsign/gostsign.h"

#include <gcrypt.h>
#include <libtasn1.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <strings.h>

namespace tv::gost {

namespace {

constexpr char kDigest94[] = "1.2.643.2.2.30.1";

void initialise() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (gcry_check_version(GCRYPT_VERSION) == nullptr) throw Error("libgcrypt is older than the build's");
    // The library's secure memory would need privileges; the keys are held
    // in ordinary memory, as GnuTLS holds them.
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

void check(gcry_error_t error, const char* what) {
  if (error != 0) throw Error(std::string(what) + ": " + gcry_strerror(error));
}

// One S-expression, released with the last owner.
std::shared_ptr<void> owned(gcry_sexp_t sexp) {
  return std::shared_ptr<void>(sexp, [](void* p) { gcry_sexp_release(static_cast<gcry_sexp_t>(p)); });
}
gcry_sexp_t sexpOf(const std::shared_ptr<void>& p) { return static_cast<gcry_sexp_t>(p.get()); }

Bytes reversed(const Bytes& bytes) { return Bytes(bytes.rbegin(), bytes.rend()); }

// The unsigned big-endian value of a token of the S-expression, padded on
// the left to size bytes.
Bytes number(gcry_sexp_t sexp, const char* token, size_t size) {
  gcry_sexp_t found = gcry_sexp_find_token(sexp, token, 0);
  if (found == nullptr) throw Error(std::string("libgcrypt gave no ") + token);
  gcry_mpi_t value = gcry_sexp_nth_mpi(found, 1, GCRYMPI_FMT_USG);
  gcry_sexp_release(found);
  Bytes out(size);
  size_t written = 0;
  const gcry_error_t error = gcry_mpi_print(GCRYMPI_FMT_USG, out.data(), size, &written, value);
  gcry_mpi_release(value);
  check(error, token);
  std::rotate(out.begin(), out.begin() + static_cast<long>(written), out.end());
  std::fill(out.begin(), out.end() - static_cast<long>(written), 0);
  return out;
}

// A key of the set: the format names the curve, then the key's value.
std::shared_ptr<void> keySexp(const char* format, const ParameterSet& set, const Bytes& value) {
  gcry_sexp_t key = nullptr;
  check(gcry_sexp_build(&key, nullptr, format, set.curve, static_cast<int>(value.size()), value.data()), "key");
  return owned(key);
}

// A digest as GOST signs it: read as a little-endian number.
std::shared_ptr<void> digestSexp(const Bytes& digest) {
  const Bytes value = reversed(digest);
  gcry_sexp_t data = nullptr;
  check(gcry_sexp_build(&data, nullptr, "(data(flags gost)(value %b))", static_cast<int>(value.size()), value.data()),
        "digest");
  return owned(data);
}

// The point as libgcrypt takes it: 04, x, y, big-endian.
Bytes uncompressed(const Bytes& point) {
  const size_t half = point.size() / 2;
  Bytes q{0x04};
  const Bytes x(point.begin(), point.begin() + static_cast<long>(half));
  const Bytes y(point.begin() + static_cast<long>(half), point.end());
  for (const Bytes& coordinate : {x, y}) {
    const Bytes big = reversed(coordinate);
    q.insert(q.end(), big.begin(), big.end());
  }
  return q;
}

// ---- Reading DER, element by element (libtasn1 reads the lengths) ----

struct Der {
  const unsigned char* data;
  size_t size;
};

// The contents of the element of that tag at the front of in, which then
// moves past it.
Der take(Der& in, unsigned char tag) {
  if (in.size < 2 || in.data[0] != tag) throw Error("malformed key: unexpected element");
  int lengthSize = 0;
  const long length = asn1_get_length_der(in.data + 1, static_cast<int>(std::min<size_t>(in.size - 1, 1 << 20)),
                                          &lengthSize);
  if (length < 0 || static_cast<size_t>(length) > in.size - 1 - static_cast<size_t>(lengthSize))
    throw Error("malformed key: bad length");
  const Der contents{in.data + 1 + lengthSize, static_cast<size_t>(length)};
  in.data = contents.data + length;
  in.size -= 1 + static_cast<size_t>(lengthSize) + static_cast<size_t>(length);
  return contents;
}

std::string takeOid(Der& in) {
  const unsigned char* start = in.data;
  take(in, ASN1_TAG_OBJECT_ID);
  char text[128];
  int read = 0;
  if (asn1_get_object_id_der(start + 1, static_cast<int>(in.data - start - 1), &read, text, sizeof text) !=
      ASN1_SUCCESS)
    throw Error("malformed key: bad object identifier");
  return text;
}

// AlgorithmIdentifier { algorithm, { parameter set, ... } } of a GOST key.
const ParameterSet& takeAlgorithm(Der& in) {
  Der identifier = take(in, 0x30);
  KeyAlgorithm algorithm;
  if (!keyAlgorithmOf(takeOid(identifier), algorithm)) throw Error("not a GOST R 34.10 key");
  Der parameters = take(identifier, 0x30);
  const ParameterSet* set = parameterSetOf(algorithm, takeOid(parameters));
  if (set == nullptr) throw Error("a GOST R 34.10 key of an unknown parameter set");
  return *set;
}


// ---- Writing DER ----

Bytes tlv(unsigned char tag, const Bytes& contents) {
  unsigned char length[16];
  int size = sizeof length;
  asn1_length_der(contents.size(), length, &size);
  Bytes out(1 + static_cast<size_t>(size) + contents.size());
  out[0] = tag;
  std::copy(length, length + size, out.begin() + 1);
  std::copy(contents.begin(), contents.end(), out.begin() + 1 + size);
  return out;
}

Bytes oidDer(const char* oid) {
  unsigned char der[64];
  int size = sizeof der;
  if (asn1_object_id_der(oid, der, &size, 0) != ASN1_SUCCESS) throw Error(std::string("bad object identifier ") + oid);
  return Bytes(der, der + size);
}

Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// AlgorithmIdentifier of a key of the set. The hash's OID goes with 2001
// keys and with 256-bit 2012 keys on the 2001 sets' OIDs; 512-bit keys
// must not name it.
Bytes algorithmIdentifier(const ParameterSet& set) {
  Bytes parameters = oidDer(set.oid);
  const bool cryptoProOid = std::strncmp(set.oid, "1.2.643.2.2.", 12) == 0;
  if (set.algorithm == KeyAlgorithm::Gost2001 || (set.algorithm == KeyAlgorithm::Gost2012_256 && cryptoProOid))
    parameters = joined({parameters, oidDer(digestOid(set.algorithm))});
  return tlv(0x30, joined({oidDer(keyAlgorithmOid(set.algorithm)), tlv(0x30, parameters)}));
}

// Where a certificate's parts lie: the to-be-signed part, and the
// signature's bytes (after the bit string's unused-bits byte) up to the
// bytes that follow them.
struct CertificateParts {
  size_t tbs, tbsSize, signature, after;
};

CertificateParts partsOf(const Bytes& certificate) {
  Der in{certificate.data(), certificate.size()};
  Der outer = take(in, 0x30);
  const unsigned char* tbsStart = outer.data;
  take(outer, 0x30);
  const size_t tbsSize = static_cast<size_t>(outer.data - tbsStart);
  take(outer, 0x30);  // the signature algorithm; the key decides the hash
  const Der bits = take(outer, ASN1_TAG_BIT_STRING);
  if (bits.size < 1 || bits.data[0] != 0) throw Error("malformed certificate: bad signature");
  return {static_cast<size_t>(tbsStart - certificate.data()), tbsSize,
          static_cast<size_t>(bits.data + 1 - certificate.data()),
          static_cast<size_t>(certificate.data() + certificate.size() - (bits.data + bits.size))};
}

// The hash of the key's algorithm over the to-be-signed part.
Bytes tbsDigest(const Bytes& certificate, const CertificateParts& parts, KeyAlgorithm algorithm) {
  static const int hashes[] = {GCRY_MD_GOSTR3411_CP, GCRY_MD_STRIBOG256, GCRY_MD_STRIBOG512};
  const int hash = hashes[static_cast<int>(algorithm)];
  Bytes digest(gcry_md_get_algo_dlen(hash));
  gcry_md_hash_buffer(hash, digest.data(), certificate.data() + parts.tbs, parts.tbsSize);
  return digest;
}

}  // namespace

const std::vector<ParameterSet>& parameterSets() {
  static const std::vector<ParameterSet> sets = {
      {"A", "1.2.643.2.2.35.1", "GOST2001-CryptoPro-A", KeyAlgorithm::Gost2001},
      {"B", "1.2.643.2.2.35.2", "GOST2001-CryptoPro-B", KeyAlgorithm::Gost2001},
      {"C", "1.2.643.2.2.35.3", "GOST2001-CryptoPro-C", KeyAlgorithm::Gost2001},
      {"XchA", "1.2.643.2.2.36.0", "GOST2001-CryptoPro-A", KeyAlgorithm::Gost2001},
      {"XchB", "1.2.643.2.2.36.1", "GOST2001-CryptoPro-C", KeyAlgorithm::Gost2001},
      {"A", "1.2.643.7.1.2.1.1.1", "GOST2012-256-A", KeyAlgorithm::Gost2012_256},
      {"B", "1.2.643.7.1.2.1.1.2", "GOST2001-CryptoPro-A", KeyAlgorithm::Gost2012_256},
      {"C", "1.2.643.7.1.2.1.1.3", "GOST2001-CryptoPro-B", KeyAlgorithm::Gost2012_256},
      {"D", "1.2.643.7.1.2.1.1.4", "GOST2001-CryptoPro-C", KeyAlgorithm::Gost2012_256},
      {"A", "1.2.643.7.1.2.1.2.1", "GOST2012-512-tc26-A", KeyAlgorithm::Gost2012_512},
      {"B", "1.2.643.7.1.2.1.2.2", "GOST2012-512-tc26-B", KeyAlgorithm::Gost2012_512},
      {"C", "1.2.643.7.1.2.1.2.3", "GOST2012-512-tc26-C", KeyAlgorithm::Gost2012_512},
      // A 256-bit 2012 key may name its curve by a 2001 set's OID.
      {"CryptoPro-A", "1.2.643.2.2.35.1", "GOST2001-CryptoPro-A", KeyAlgorithm::Gost2012_256},
      {"CryptoPro-B", "1.2.643.2.2.35.2", "GOST2001-CryptoPro-B", KeyAlgorithm::Gost2012_256},
      {"CryptoPro-C", "1.2.643.2.2.35.3", "GOST2001-CryptoPro-C", KeyAlgorithm::Gost2012_256},
      {"CryptoPro-XchA", "1.2.643.2.2.36.0", "GOST2001-CryptoPro-A", KeyAlgorithm::Gost2012_256},
      {"CryptoPro-XchB", "1.2.643.2.2.36.1", "GOST2001-CryptoPro-C", KeyAlgorithm::Gost2012_256},
  };
  return sets;
}

const ParameterSet* parameterSetNamed(KeyAlgorithm algorithm, const std::string& name) {
  for (const ParameterSet& set : parameterSets())
    if (set.algorithm == algorithm && strcasecmp(set.name, name.c_str()) == 0) return &set;
  return nullptr;
}

const ParameterSet* parameterSetOf(KeyAlgorithm algorithm, const std::string& oid) {
  for (const ParameterSet& set : parameterSets())
    if (set.oid == oid && set.algorithm == algorithm) return &set;
  return nullptr;
}

const char* keyAlgorithmOid(KeyAlgorithm algorithm) {
  switch (algorithm) {
    case KeyAlgorithm::Gost2001: return "1.2.643.2.2.19";
    case KeyAlgorithm::Gost2012_256: return "1.2.643.7.1.1.1.1";
    case KeyAlgorithm::Gost2012_512: return "1.2.643.7.1.1.1.2";
  }
  return "";
}

const char* digestOid(KeyAlgorithm algorithm) {
  switch (algorithm) {
    case KeyAlgorithm::Gost2001: return kDigest94;
    case KeyAlgorithm::Gost2012_256: return "1.2.643.7.1.1.2.2";
    case KeyAlgorithm::Gost2012_512: return "1.2.643.7.1.1.2.3";
  }
  return "";
}

size_t keySize(KeyAlgorithm algorithm) { return algorithm == KeyAlgorithm::Gost2012_512 ? 64 : 32; }

bool keyAlgorithmOf(const std::string& oid, KeyAlgorithm& algorithm) {
  for (KeyAlgorithm candidate : {KeyAlgorithm::Gost2001, KeyAlgorithm::Gost2012_256, KeyAlgorithm::Gost2012_512})
    if (oid == keyAlgorithmOid(candidate)) {
      algorithm = candidate;
      return true;
    }
  return false;
}

// ---- Public keys ----

PublicKey::PublicKey(const ParameterSet& set, const Bytes& point) : set_(&set), point_(point) {
  initialise();
  if (point.size() != 2 * keySize(set.algorithm)) throw Error("a GOST public key of the wrong size");
  key_ = keySexp("(public-key(ecc(curve %s)(q %b)))", set, uncompressed(point));
}

PublicKey PublicKey::fromSpki(const Bytes& der) {
  Der in{der.data(), der.size()};
  Der info = take(in, 0x30);
  const ParameterSet& set = takeAlgorithm(info);
  const Der bits = take(info, ASN1_TAG_BIT_STRING);
  if (bits.size < 1 || bits.data[0] != 0) throw Error("malformed key: bad bit string");
  Der octets{bits.data + 1, bits.size - 1};
  const Der point = take(octets, ASN1_TAG_OCTET_STRING);
  return PublicKey(set, Bytes(point.data, point.data + point.size));
}

PublicKey PublicKey::fromCertificate(const Bytes& der) {
  Der in{der.data(), der.size()};
  Der certificate = take(in, 0x30);
  Der tbs = take(certificate, 0x30);
  if (tbs.size > 0 && tbs.data[0] == 0xA0) take(tbs, 0xA0);  // the version
  take(tbs, ASN1_TAG_INTEGER);                              // the serial number
  for (int field = 0; field < 4; ++field) take(tbs, 0x30);  // signature, issuer, validity, subject
  const unsigned char* start = tbs.data;
  take(tbs, 0x30);
  return fromSpki(Bytes(start, tbs.data));
}

Bytes PublicKey::toSpki() const {
  const Bytes bits = joined({Bytes{0}, tlv(ASN1_TAG_OCTET_STRING, point_)});
  return tlv(0x30, joined({algorithmIdentifier(*set_), tlv(ASN1_TAG_BIT_STRING, bits)}));
}

bool PublicKey::signedCertificate(const Bytes& certificate) const {
  const CertificateParts parts = partsOf(certificate);
  return verify(tbsDigest(certificate, parts, set_->algorithm),
                Bytes(certificate.begin() + static_cast<long>(parts.signature), certificate.end() - parts.after));
}

bool PublicKey::verify(const Bytes& digest, const Bytes& signature) const {
  const size_t size = keySize(set_->algorithm);
  if (digest.size() != size || signature.size() != 2 * size) return false;
  const auto data = digestSexp(digest);
  gcry_sexp_t sig = nullptr;
  // RFC order: s first, then r.
  check(gcry_sexp_build(&sig, nullptr, "(sig-val(gost(r %b)(s %b)))", static_cast<int>(size), signature.data() + size,
                        static_cast<int>(size), signature.data()),
        "signature");
  const auto sigOwner = owned(sig);
  return gcry_pk_verify(sig, sexpOf(data), sexpOf(key_)) == 0;
}

// ---- Private keys ----

PrivateKey::PrivateKey(const ParameterSet& set, const Bytes& scalar) : set_(&set), scalar_(scalar) {
  initialise();
  if (scalar.size() != keySize(set.algorithm)) throw Error("a GOST private key of the wrong size");
  key_ = keySexp("(private-key(ecc(curve %s)(d %b)))", set, reversed(scalar));
}

PrivateKey PrivateKey::generate(const ParameterSet& set) {
  initialise();
  gcry_sexp_t parameters = nullptr, pair = nullptr;
  check(gcry_sexp_build(&parameters, nullptr, "(genkey(ecc(curve %s)))", set.curve), "key parameters");
  const auto parametersOwner = owned(parameters);
  check(gcry_pk_genkey(&pair, parameters), "key generation");
  const auto pairOwner = owned(pair);
  return PrivateKey(set, reversed(number(pair, "d", keySize(set.algorithm))));
}

PrivateKey PrivateKey::fromPkcs8(const Bytes& der) {
  Der in{der.data(), der.size()};
  Der info = take(in, 0x30);
  const Der version = take(info, ASN1_TAG_INTEGER);
  if (version.size != 1 || version.data[0] > 1) throw Error("malformed key: unknown version");
  const ParameterSet& set = takeAlgorithm(info);
  Der value = take(info, ASN1_TAG_OCTET_STRING);
  const size_t size = keySize(set.algorithm);
  // Writers differ: the scalar as it is, or in an inner OCTET STRING, both
  // little-endian, or as an INTEGER, big-endian.
  if (value.size == size) return PrivateKey(set, Bytes(value.data, value.data + value.size));
  if (value.size > 0 && value.data[0] == ASN1_TAG_INTEGER) {
    Der integer = take(value, ASN1_TAG_INTEGER);
    while (integer.size > size && integer.data[0] == 0) ++integer.data, --integer.size;
    if (integer.size > size) throw Error("malformed key: scalar too long");
    Bytes big(size - integer.size, 0);
    big.insert(big.end(), integer.data, integer.data + integer.size);
    return PrivateKey(set, reversed(big));
  }
  const Der scalar = take(value, ASN1_TAG_OCTET_STRING);
  return PrivateKey(set, Bytes(scalar.data, scalar.data + scalar.size));
}

Bytes PrivateKey::toPkcs8() const {
  const Bytes value = tlv(ASN1_TAG_OCTET_STRING, tlv(ASN1_TAG_OCTET_STRING, scalar_));
  return tlv(0x30, joined({Bytes{ASN1_TAG_INTEGER, 1, 0}, algorithmIdentifier(*set_), value}));
}

void PrivateKey::signCertificate(Bytes& certificate) const {
  const CertificateParts parts = partsOf(certificate);
  const Bytes signature = sign(tbsDigest(certificate, parts, set_->algorithm));
  if (certificate.size() - parts.after - parts.signature != signature.size())
    throw Error("the certificate holds a signature of another size");
  std::copy(signature.begin(), signature.end(), certificate.begin() + static_cast<long>(parts.signature));
}

Bytes PrivateKey::sign(const Bytes& digest) const {
  const size_t size = keySize(set_->algorithm);
  if (digest.size() != size) throw Error("a digest of the wrong size for the key");
  const auto data = digestSexp(digest);
  gcry_sexp_t sig = nullptr;
  check(gcry_pk_sign(&sig, sexpOf(data), sexpOf(key_)), "signing");
  const auto sigOwner = owned(sig);
  Bytes signature = number(sig, "s", size);
  const Bytes r = number(sig, "r", size);
  signature.insert(signature.end(), r.begin(), r.end());
  return signature;
}

PublicKey PrivateKey::publicKey() const {
  gcry_ctx_t context = nullptr;
  check(gcry_mpi_ec_new(&context, sexpOf(key_), nullptr), "curve");
  gcry_mpi_t q = gcry_mpi_ec_get_mpi("q", context, 1);
  gcry_ctx_release(context);
  if (q == nullptr) throw Error("no public point");
  unsigned bits = 0;
  const unsigned char* raw = static_cast<const unsigned char*>(gcry_mpi_get_opaque(q, &bits));
  const size_t size = keySize(set_->algorithm);
  if (raw == nullptr || bits != 8 * (1 + 2 * size) || raw[0] != 0x04) {
    gcry_mpi_release(q);
    throw Error("an unexpected public point");
  }
  const Bytes x(raw + 1, raw + 1 + size), y(raw + 1 + size, raw + 1 + 2 * size);
  gcry_mpi_release(q);
  Bytes point = reversed(x);
  const Bytes yLittle = reversed(y);
  point.insert(point.end(), yLittle.begin(), yLittle.end());
  return PublicKey(*set_, point);
}

}  // namespace tv::gost
