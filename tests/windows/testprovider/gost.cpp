#include "gost.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace testprovider {

namespace {

const ProviderKind kKinds[] = {
    // GOST R 34.10-2001 with GOST R 34.11-94 (CryptoPro parameters).
    {75, 0x801E, GCRY_MD_GOSTR3411_CP, "1.2.643.2.2.30.1", 0xAA24, 0x2E23, "1.2.643.2.2.35.1"},
};

// Every GOST R 34.10 curve, by the object identifiers of its parameter sets.
struct Curve {
  const char* oid;
  const char* name;  // libgcrypt's
};
const Curve kCurves[] = {
    {"1.2.643.2.2.35.1", "GOST2001-CryptoPro-A"},     {"1.2.643.2.2.35.2", "GOST2001-CryptoPro-B"},
    {"1.2.643.2.2.35.3", "GOST2001-CryptoPro-C"},     {"1.2.643.2.2.36.0", "GOST2001-CryptoPro-XchA"},
    {"1.2.643.2.2.36.1", "GOST2001-CryptoPro-XchB"},  {"1.2.643.7.1.2.1.1.1", "GOST2012-256-A"},
    {"1.2.643.7.1.2.1.1.2", "GOST2001-CryptoPro-A"},  {"1.2.643.7.1.2.1.1.3", "GOST2001-CryptoPro-B"},
    {"1.2.643.7.1.2.1.1.4", "GOST2001-CryptoPro-C"},  {"1.2.643.7.1.2.1.2.1", "GOST2012-512-tc26-A"},
    {"1.2.643.7.1.2.1.2.2", "GOST2012-512-tc26-B"},   {"1.2.643.7.1.2.1.2.3", "GOST2012-512-tc26-C"},
};

const char* curveName(const std::string& oid) {
  for (const Curve& curve : kCurves)
    if (oid == curve.oid) return curve.name;
  throw Failure{static_cast<DWORD>(NTE_BAD_KEY)};
}

void check(gcry_error_t error, DWORD code = static_cast<DWORD>(NTE_FAIL)) {
  if (error != 0) throw Failure{code};
}

Bytes reversed(Bytes bytes) {
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

// An unsigned number as exactly `size` big-endian bytes.
Bytes fixedBytes(gcry_mpi_t number, size_t size) {
  Bytes out(size);
  size_t written = 0;
  check(gcry_mpi_print(GCRYMPI_FMT_USG, nullptr, 0, &written, number));
  if (written > size) throw Failure{static_cast<DWORD>(NTE_FAIL)};
  check(gcry_mpi_print(GCRYMPI_FMT_USG, out.data() + size - written, written, &written, number));
  return out;
}

// DER: an object identifier from its dotted text.
Bytes derOid(const std::string& dotted) {
  std::vector<unsigned long> arcs;
  for (size_t at = 0; at <= dotted.size();) {
    size_t dot = dotted.find('.', at);
    if (dot == std::string::npos) dot = dotted.size();
    arcs.push_back(std::stoul(dotted.substr(at, dot - at)));
    at = dot + 1;
  }
  Bytes body{static_cast<BYTE>(arcs[0] * 40 + arcs[1])};
  for (size_t i = 2; i < arcs.size(); ++i) {
    Bytes base128{static_cast<BYTE>(arcs[i] & 0x7F)};
    for (unsigned long rest = arcs[i] >> 7; rest != 0; rest >>= 7)
      base128.insert(base128.begin(), static_cast<BYTE>(0x80 | (rest & 0x7F)));
    body.insert(body.end(), base128.begin(), base128.end());
  }
  body.insert(body.begin(), {0x06, static_cast<BYTE>(body.size())});
  return body;
}

void putDword(Bytes& out, DWORD value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(value >> (8 * i)));
}

}  // namespace

const ProviderKind* providerKind(DWORD type) {
  for (const ProviderKind& kind : kKinds)
    if (kind.type == type) return &kind;
  return nullptr;
}

Sexp Sexp::find(const char* token) const {
  return Sexp(value_ == nullptr ? nullptr : gcry_sexp_find_token(value_, token, 0));
}

std::string Sexp::text(int index) const {
  size_t size = 0;
  const char* data = value_ == nullptr ? nullptr : gcry_sexp_nth_data(value_, index, &size);
  return data == nullptr ? std::string() : std::string(data, size);
}

Digest::Digest(const ProviderKind& kind) : algorithm_(kind.hash) {
  check(gcry_md_open(&handle_, kind.mdAlgorithm, 0));
  size_ = gcry_md_get_algo_dlen(kind.mdAlgorithm);
}

Digest::~Digest() { gcry_md_close(handle_); }

void Digest::update(const BYTE* data, DWORD size) {
  if (!value_.empty()) throw Failure{static_cast<DWORD>(NTE_BAD_HASH_STATE)};
  gcry_md_write(handle_, data, size);
}

void Digest::setValue(const BYTE* data, DWORD size) {
  if (size != size_) throw Failure{static_cast<DWORD>(NTE_BAD_HASH)};
  value_.assign(data, data + size);
}

const Bytes& Digest::value() {
  if (value_.empty()) {
    const BYTE* digest = gcry_md_read(handle_, 0);
    value_.assign(digest, digest + size_);
  }
  return value_;
}

Key::Key(std::string curve, std::string privateHex)
    : curve_(std::move(curve)), curveName_(curveName(curve_)), privateHex_(std::move(privateHex)) {
  // The curve's context computes the public point from the private value.
  Sexp key = privateKey();
  gcry_ctx_t context = nullptr;
  check(gcry_mpi_ec_new(&context, key.find("ecc").get(), nullptr), static_cast<DWORD>(NTE_BAD_KEY));
  gcry_mpi_t point = gcry_mpi_ec_get_mpi("q", context, 1);
  gcry_ctx_release(context);
  if (point == nullptr) throw Failure{static_cast<DWORD>(NTE_BAD_KEY)};
  coordinateSize_ = (gcry_pk_get_nbits(key.get()) + 7) / 8;
  point_ = fixedBytes(point, 1 + 2 * coordinateSize_);
  gcry_mpi_release(point);
}

Key Key::generate(const std::string& curve) {
  gcry_sexp_t parameters = nullptr, pair = nullptr;
  check(gcry_sexp_build(&parameters, nullptr, "(genkey (ecc (curve %s)))", curveName(curve)));
  const gcry_error_t error = gcry_pk_genkey(&pair, parameters);
  gcry_sexp_release(parameters);
  check(error);
  Sexp keys(pair);
  gcry_mpi_t d = gcry_sexp_nth_mpi(keys.find("private-key").find("d").get(), 1, GCRYMPI_FMT_USG);
  if (d == nullptr) throw Failure{static_cast<DWORD>(NTE_FAIL)};
  unsigned char* text = nullptr;
  const gcry_error_t printed = gcry_mpi_aprint(GCRYMPI_FMT_HEX, &text, nullptr, d);
  gcry_mpi_release(d);
  check(printed);
  std::string privateHex(reinterpret_cast<char*>(text));
  gcry_free(text);
  return Key(curve, privateHex);
}

Sexp Key::privateKey() const {
  gcry_mpi_t d = nullptr;
  check(gcry_mpi_scan(&d, GCRYMPI_FMT_HEX, privateHex_.c_str(), 0, nullptr), static_cast<DWORD>(NTE_BAD_KEY));
  gcry_sexp_t key = nullptr;
  const gcry_error_t error = gcry_sexp_build(&key, nullptr, "(private-key (ecc (curve %s) (d %M)))", curveName_, d);
  gcry_mpi_release(d);
  check(error, static_cast<DWORD>(NTE_BAD_KEY));
  return Sexp(key);
}

Sexp Key::publicKey() const {
  gcry_sexp_t key = nullptr;
  check(gcry_sexp_build(&key, nullptr, "(public-key (ecc (curve %s) (q %b)))", curveName_,
                        static_cast<int>(point_.size()), point_.data()));
  return Sexp(key);
}

namespace {

// The digest as the number GOST R 34.10 signs: its bytes read little-endian.
Sexp digestData(const Bytes& digest) {
  const Bytes number = reversed(digest);
  gcry_sexp_t data = nullptr;
  check(gcry_sexp_build(&data, nullptr, "(data (flags gost) (value %b))", static_cast<int>(number.size()),
                        number.data()));
  return Sexp(data);
}

}  // namespace

Bytes Key::sign(const Bytes& digest) const {
  gcry_sexp_t signature = nullptr;
  check(gcry_pk_sign(&signature, digestData(digest).get(), privateKey().get()));
  Sexp value(signature);
  Bytes out;
  for (const char* part : {"s", "r"}) {
    gcry_mpi_t number = gcry_sexp_nth_mpi(value.find(part).get(), 1, GCRYMPI_FMT_USG);
    if (number == nullptr) throw Failure{static_cast<DWORD>(NTE_FAIL)};
    const Bytes bytes = fixedBytes(number, coordinateSize_);
    gcry_mpi_release(number);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  return reversed(out);
}

bool Key::verify(const Bytes& digest, const Bytes& signature) const {
  if (signature.size() != signatureSize()) return false;
  const Bytes sr = reversed(signature);
  gcry_sexp_t value = nullptr;
  check(gcry_sexp_build(&value, nullptr, "(sig-val (gost (r %b) (s %b)))", static_cast<int>(coordinateSize_),
                        sr.data() + coordinateSize_, static_cast<int>(coordinateSize_), sr.data()));
  Sexp owned(value);
  return gcry_pk_verify(owned.get(), digestData(digest).get(), publicKey().get()) == 0;
}

Bytes Key::publicKeyBlob(ALG_ID algorithm, const char* hashParams) const {
  Bytes blob{PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, 0};
  putDword(blob, algorithm);
  putDword(blob, 0x3147414D);  // "MAG1"
  putDword(blob, bits() * 2);
  Bytes parameters = derOid(curve_);
  const Bytes hash = derOid(hashParams);
  parameters.insert(parameters.end(), hash.begin(), hash.end());
  parameters.insert(parameters.begin(), {0x30, static_cast<BYTE>(parameters.size())});
  blob.insert(blob.end(), parameters.begin(), parameters.end());
  for (size_t at : {size_t{1}, 1 + size_t{coordinateSize_}}) {
    const Bytes coordinate = reversed(Bytes(point_.begin() + at, point_.begin() + at + coordinateSize_));
    blob.insert(blob.end(), coordinate.begin(), coordinate.end());
  }
  return blob;
}

}  // namespace testprovider
