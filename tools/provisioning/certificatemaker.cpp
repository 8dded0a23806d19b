#include "provisioning/certificatemaker.h"

#include <gnutls/abstract.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/pkcs12.h>
#include <gnutls/x509.h>
#include <libtasn1.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <type_traits>

namespace provisioning {

namespace {

void check(int result, const char* what) {
  if (result < 0) throw std::runtime_error(std::string("certificate maker: ") + what + ": " + gnutls_strerror(result));
}

template <class Handle, void (*Deinit)(Handle)>
struct Deleter {
  void operator()(Handle handle) const { Deinit(handle); }
};
template <class Handle, void (*Deinit)(Handle)>
using Owned = std::unique_ptr<std::remove_pointer_t<Handle>, Deleter<Handle, Deinit>>;

using Crt = Owned<gnutls_x509_crt_t, gnutls_x509_crt_deinit>;
using X509Key = Owned<gnutls_x509_privkey_t, gnutls_x509_privkey_deinit>;
using PrivKey = Owned<gnutls_privkey_t, gnutls_privkey_deinit>;
using PubKey = Owned<gnutls_pubkey_t, gnutls_pubkey_deinit>;
using Pkcs12 = Owned<gnutls_pkcs12_t, gnutls_pkcs12_deinit>;
using Pkcs12Bag = Owned<gnutls_pkcs12_bag_t, gnutls_pkcs12_bag_deinit>;

// A datum that GnuTLS allocated.
struct Datum {
  gnutls_datum_t value{};
  ~Datum() { gnutls_free(value.data); }
  Bytes bytes() const { return Bytes(value.data, value.data + value.size); }
  std::string text() const { return std::string(reinterpret_cast<const char*>(value.data), value.size); }
};

Crt newCrt() {
  gnutls_x509_crt_t crt = nullptr;
  check(gnutls_x509_crt_init(&crt), "crt_init");
  return Crt(crt);
}

X509Key generateKey(KeyKind kind) {
  gnutls_x509_privkey_t key = nullptr;
  check(gnutls_x509_privkey_init(&key), "privkey_init");
  X509Key owned(key);
  gnutls_pk_algorithm_t algorithm = GNUTLS_PK_GOST_01;
  unsigned bits = 0;
  switch (kind) {
    case KeyKind::Gost2001ParamSetA:
      bits = GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_GOST256CPA);
      break;
    case KeyKind::Gost2001ParamSetXchA:
      bits = GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_GOST256CPXA);
      break;
    case KeyKind::Rsa2048:
      algorithm = GNUTLS_PK_RSA;
      bits = 2048;
      break;
    case KeyKind::EcdsaP256:
      algorithm = GNUTLS_PK_ECDSA;
      bits = GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1);
      break;
    case KeyKind::Gost:
      throw std::invalid_argument("certificate maker: GnuTLS makes no key on every GOST set");
  }
  check(gnutls_x509_privkey_generate2(key, algorithm, bits, 0, nullptr, 0), "privkey_generate");
  return owned;
}

bool isGost(KeyKind kind) {
  return kind == KeyKind::Gost2001ParamSetA || kind == KeyKind::Gost2001ParamSetXchA || kind == KeyKind::Gost;
}

// A key a certificate is made for and signed with, and the forms it is kept in.
struct Keys {
  PrivKey signer;
  PubKey subject;
  std::string privateKeyPem;  // PKCS#8, unencrypted
  std::unique_ptr<tv::gost::PrivateKey> gost;  // the signer's arithmetic, for keys on any GOST set
  // GnuTLS writes a key info only on its own curves: the key's point goes
  // in under a set of its algorithm that GnuTLS knows (placeholder, DER),
  // whose OID is then replaced by the set's own (same size), and the
  // certificate signed again.
  Bytes placeholderOid, oid;
};

PrivKey newPrivKey() {
  gnutls_privkey_t key = nullptr;
  check(gnutls_privkey_init(&key), "privkey_init");
  return PrivKey(key);
}

PubKey newPubKey() {
  gnutls_pubkey_t key = nullptr;
  check(gnutls_pubkey_init(&key), "pubkey_init");
  return PubKey(key);
}

Bytes oidDer(const char* oid) {
  unsigned char der[64];
  int size = sizeof der;
  if (oid == nullptr || asn1_object_id_der(oid, der, &size, 0) != ASN1_SUCCESS)
    throw std::logic_error("certificate maker: bad object identifier");
  return Bytes(der, der + size);
}

Keys gnutlsKeys(KeyKind kind) {
  X509Key x509Key = generateKey(kind);
  Keys keys{newPrivKey(), newPubKey(), {}, nullptr, {}, {}};
  Datum pem;
  check(gnutls_x509_privkey_export2_pkcs8(x509Key.get(), GNUTLS_X509_FMT_PEM, nullptr, GNUTLS_PKCS_PLAIN, &pem.value),
        "privkey_export_pkcs8");
  keys.privateKeyPem = pem.text();
  check(gnutls_privkey_import_x509(keys.signer.get(), x509Key.get(), GNUTLS_PRIVKEY_IMPORT_AUTO_RELEASE),
        "privkey_import_x509");
  x509Key.release();  // now the private key's
  check(gnutls_pubkey_import_privkey(keys.subject.get(), keys.signer.get(), 0, 0), "pubkey_import_privkey");
  return keys;
}

// GnuTLS hands the hash of what it signs to libgcrypt's key.
int signGostHash(gnutls_privkey_t, gnutls_sign_algorithm_t, void* key, unsigned, const gnutls_datum_t* hash,
                 gnutls_datum_t* signature) {
  try {
    const Bytes made = static_cast<const tv::gost::PrivateKey*>(key)->sign(Bytes(hash->data, hash->data + hash->size));
    signature->data = static_cast<unsigned char*>(gnutls_malloc(made.size()));
    if (signature->data == nullptr) return GNUTLS_E_MEMORY_ERROR;
    std::copy(made.begin(), made.end(), signature->data);
    signature->size = static_cast<unsigned>(made.size());
    return 0;
  } catch (const std::exception&) {
    return GNUTLS_E_PK_SIGN_FAILED;
  }
}

gnutls_pk_algorithm_t gnutlsAlgorithm(tv::gost::KeyAlgorithm algorithm) {
  switch (algorithm) {
    case tv::gost::KeyAlgorithm::Gost2001: return GNUTLS_PK_GOST_01;
    case tv::gost::KeyAlgorithm::Gost2012_256: return GNUTLS_PK_GOST_12_256;
    case tv::gost::KeyAlgorithm::Gost2012_512: return GNUTLS_PK_GOST_12_512;
  }
  return GNUTLS_PK_UNKNOWN;
}

gnutls_digest_algorithm_t gostDigest(tv::gost::KeyAlgorithm algorithm) {
  switch (algorithm) {
    case tv::gost::KeyAlgorithm::Gost2001: return GNUTLS_DIG_GOSTR_94;
    case tv::gost::KeyAlgorithm::Gost2012_256: return GNUTLS_DIG_STREEBOG_256;
    case tv::gost::KeyAlgorithm::Gost2012_512: return GNUTLS_DIG_STREEBOG_512;
  }
  return GNUTLS_DIG_UNKNOWN;
}

int gostKeyInfo(gnutls_privkey_t, unsigned flags, void* key) {
  const tv::gost::ParameterSet& set = static_cast<const tv::gost::PrivateKey*>(key)->parameterSet();
  if (flags & GNUTLS_PRIVKEY_INFO_PK_ALGO) return gnutlsAlgorithm(set.algorithm);
  if (flags & GNUTLS_PRIVKEY_INFO_PK_ALGO_BITS) return static_cast<int>(8 * tv::gost::keySize(set.algorithm));
  if (flags & GNUTLS_PRIVKEY_INFO_HAVE_SIGN_ALGO)
    return gnutls_sign_get_pk_algorithm(static_cast<gnutls_sign_algorithm_t>(GNUTLS_FLAGS_TO_SIGN_ALGO(flags))) == gnutlsAlgorithm(set.algorithm);
  return -1;
}

// A key on any GOST set: GnuTLS writes the certificate and calls on
// libgcrypt for the signature, since it signs on two curves only.
Keys gostKeys(const tv::gost::ParameterSet& set) {
  Keys keys{newPrivKey(), newPubKey(), {}, std::make_unique<tv::gost::PrivateKey>(tv::gost::PrivateKey::generate(set)),
            {}, {}};
  const Bytes pkcs8 = keys.gost->toPkcs8();
  const gnutls_datum_t der{const_cast<unsigned char*>(pkcs8.data()), static_cast<unsigned>(pkcs8.size())};
  Datum pem;
  check(gnutls_pem_base64_encode2("PRIVATE KEY", &der, &pem.value), "pem_base64_encode");
  keys.privateKeyPem = pem.text();
  check(gnutls_privkey_import_ext4(keys.signer.get(), keys.gost.get(), nullptr, signGostHash, nullptr, nullptr,
                                   gostKeyInfo, 0),
        "privkey_import_ext4");
  // The point as the key info holds it: x, then y, each little-endian.
  const Bytes point = keys.gost->publicKey().point();
  const size_t half = point.size() / 2;
  const gnutls_datum_t x{const_cast<unsigned char*>(point.data()), static_cast<unsigned>(half)};
  const gnutls_datum_t y{const_cast<unsigned char*>(point.data() + half), static_cast<unsigned>(half)};
  const gnutls_ecc_curve_t placeholder = set.algorithm == tv::gost::KeyAlgorithm::Gost2001 ? GNUTLS_ECC_CURVE_GOST256CPA
                                         : set.algorithm == tv::gost::KeyAlgorithm::Gost2012_256
                                             ? GNUTLS_ECC_CURVE_GOST256B
                                             : GNUTLS_ECC_CURVE_GOST512A;
  check(gnutls_pubkey_import_gost_raw(keys.subject.get(), placeholder, gostDigest(set.algorithm),
                                      GNUTLS_GOST_PARAMSET_TC26_Z, &x, &y),
        "pubkey_import_gost_raw");
  keys.placeholderOid = oidDer(gnutls_ecc_curve_get_oid(placeholder));
  keys.oid = oidDer(set.oid);
  if (keys.oid.size() != keys.placeholderOid.size()) throw std::logic_error("certificate maker: OIDs differ in size");
  return keys;
}

// The key info's placeholder set, if any, replaced by the key's own.
void replacePlaceholder(const Keys& keys, Bytes& der) {
  if (keys.placeholderOid.empty()) return;
  auto at = std::search(der.begin(), der.end(), keys.placeholderOid.begin(), keys.placeholderOid.end());
  if (at == der.end()) throw std::runtime_error("certificate maker: no placeholder parameter set");
  std::copy(keys.oid.begin(), keys.oid.end(), at);
}

size_t lengthOfLength(size_t length) { return length < 0x80 ? 1 : length < 0x100 ? 2 : length < 0x10000 ? 3 : 4; }
size_t tlvSize(size_t contents) { return 1 + lengthOfLength(contents) + contents; }

// The DER size of a Name of RDNs each holding one commonName of the given
// UTF8String lengths.
size_t placeholderNameSize(const std::vector<size_t>& valueLengths) {
  size_t rdns = 0;
  for (size_t length : valueLengths) rdns += tlvSize(tlvSize(5 + tlvSize(length)));
  return tlvSize(rdns);
}

// Value lengths for a placeholder Name of exactly `size` bytes; one RDN
// where possible, two where the length-of-length steps skip that size.
std::vector<size_t> placeholderLengths(size_t size) {
  for (size_t n = 0; n < size; ++n)
    if (placeholderNameSize({n}) == size) return {n};
  for (size_t n = 0; n < size; ++n)
    for (size_t m = 0; m < 8; ++m)
      if (placeholderNameSize({n, m}) == size) return {n, m};
  throw std::runtime_error("certfactory: no placeholder for a name of this size");
}

using SetByOid = int (*)(gnutls_x509_crt_t, const char*, unsigned, const void*, unsigned);

void setAttribute(gnutls_x509_crt_t crt, SetByOid set, const NameAttribute& attribute) {
  if (!attribute.der.empty())
    check(set(crt, attribute.oid.c_str(), 1, attribute.der.data(), static_cast<unsigned>(attribute.der.size())),
          "set_dn_by_oid (raw)");
  else
    check(set(crt, attribute.oid.c_str(), 0, attribute.text.data(), static_cast<unsigned>(attribute.text.size())),
          "set_dn_by_oid");
}

// A name that GnuTLS cannot build is first set as a placeholder of the
// same DER size, made of `fill` bytes, and replaced in the finished
// encoding.
struct Splice {
  Bytes placeholder;
  Bytes replacement;
};

void setName(gnutls_x509_crt_t crt, SetByOid set, const Name& name, unsigned char fill,
             std::vector<Splice>& splices) {
  if (name.der.empty()) {
    for (const NameAttribute& attribute : name.rdns) setAttribute(crt, set, attribute);
    return;
  }
  if (name.der == Bytes{0x30, 0x00}) return;  // GnuTLS writes an empty name when none is set
  std::vector<size_t> lengths = placeholderLengths(name.der.size());
  Splice splice;
  splice.replacement = name.der;
  for (size_t length : lengths) {
    Bytes value = derString(0x0C, std::string(length, static_cast<char>(fill)));
    check(set(crt, "2.5.4.3", 1, value.data(), static_cast<unsigned>(value.size())), "set placeholder");
  }
  splices.push_back(std::move(splice));
}

void applySplices(Bytes& der, const std::vector<Splice>& splices) {
  for (const Splice& splice : splices) {
    auto at = std::search(der.begin(), der.end(), splice.placeholder.begin(), splice.placeholder.end());
    if (at == der.end()) throw std::runtime_error("certfactory: placeholder name not found");
    std::copy(splice.replacement.begin(), splice.replacement.end(), at);
  }
}

Bytes rawSubject(gnutls_x509_crt_t crt) {
  gnutls_datum_t dn{};
  check(gnutls_x509_crt_get_raw_dn(crt, &dn), "get_raw_dn");
  Bytes bytes(dn.data, dn.data + dn.size);
  gnutls_free(dn.data);
  return bytes;
}

Bytes serialBytes(std::uint64_t serial) {
  static std::atomic<std::uint64_t> counter{0};
  if (serial == 0) serial = (static_cast<std::uint64_t>(std::time(nullptr)) << 20) + ++counter;
  Bytes bytes{0x01};  // positive, fixed width
  for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(static_cast<unsigned char>(serial >> shift));
  return bytes;
}

}  // namespace

TestCertificate makeCertificate(const CertificateOptions& options) {
  if (options.key == KeyKind::Gost && options.gostSet == nullptr)
    throw std::invalid_argument("certificate maker: a GOST key needs its parameter set");
  const Keys keys = options.key == KeyKind::Gost ? gostKeys(*options.gostSet) : gnutlsKeys(options.key);

  Crt crt = newCrt();
  check(gnutls_x509_crt_set_version(crt.get(), 3), "set_version");
  Bytes serial = serialBytes(options.serial);
  check(gnutls_x509_crt_set_serial(crt.get(), serial.data(), serial.size()), "set_serial");
  std::time_t notBefore = options.notBefore != 0 ? options.notBefore : std::time(nullptr) - 3600;
  std::time_t notAfter = options.notAfter != 0 ? options.notAfter : notBefore + 365 * 24 * 3600;
  check(gnutls_x509_crt_set_activation_time(crt.get(), notBefore), "set_activation_time");
  check(gnutls_x509_crt_set_expiration_time(crt.get(), notAfter), "set_expiration_time");
  check(gnutls_x509_crt_set_pubkey(crt.get(), keys.subject.get()), "set_pubkey");

  Name subject = options.subject;
  if (subject.rdns.empty() && subject.der.empty()) subject = commonName("Test certificate");
  const Name& issuer = options.issuer.rdns.empty() && options.issuer.der.empty() ? subject : options.issuer;

  // GnuTLS copies the issuer name from the subject of the signing
  // certificate, so the issuer is a certificate of its own: the name and the
  // signing key.
  std::vector<Splice> splices;
  Crt issuerCrt = newCrt();
  check(gnutls_x509_crt_set_version(issuerCrt.get(), 3), "set_version");
  check(gnutls_x509_crt_set_pubkey(issuerCrt.get(), keys.subject.get()), "set_pubkey");
  setName(crt.get(), gnutls_x509_crt_set_dn_by_oid, subject, 'S', splices);
  if (!splices.empty()) splices.back().placeholder = rawSubject(crt.get());
  size_t before = splices.size();
  setName(issuerCrt.get(), gnutls_x509_crt_set_dn_by_oid, issuer, 'I', splices);
  if (splices.size() > before) splices.back().placeholder = rawSubject(issuerCrt.get());

  for (const std::string& usage : options.keyUsages)
    check(gnutls_x509_crt_set_key_purpose_oid(crt.get(), usage.c_str(), 0), "set_key_purpose_oid");
  for (const Extension& extension : options.extensions)
    check(gnutls_x509_crt_set_extension_by_oid(crt.get(), extension.oid.c_str(), extension.der.data(),
                                               extension.der.size(), extension.critical ? 1 : 0),
          "set_extension_by_oid");

  const gnutls_digest_algorithm_t digest = options.key == KeyKind::Gost ? gostDigest(options.gostSet->algorithm)
                                           : isGost(options.key)       ? GNUTLS_DIG_GOSTR_94
                                                                       : GNUTLS_DIG_SHA256;
  check(gnutls_x509_crt_privkey_sign(crt.get(), issuerCrt.get(), keys.signer.get(), digest, 0), "privkey_sign");

  TestCertificate result;
  Datum der;
  check(gnutls_x509_crt_export2(crt.get(), GNUTLS_X509_FMT_DER, &der.value), "crt_export");
  result.der = der.bytes();
  applySplices(result.der, splices);
  replacePlaceholder(keys, result.der);
  if (keys.gost) keys.gost->signCertificate(result.der);

  result.privateKeyPem = keys.privateKeyPem;
  Datum spki;
  check(gnutls_pubkey_export2(keys.subject.get(), GNUTLS_X509_FMT_DER, &spki.value), "pubkey_export");
  result.publicKeyDer = spki.bytes();
  replacePlaceholder(keys, result.publicKeyDer);
  return result;
}

TestCertificate makeCertificate(KeyKind key) {
  CertificateOptions options;
  options.key = key;
  return makeCertificate(options);
}

TestCertificate makeCertificate(const tv::gost::ParameterSet& gostSet) {
  CertificateOptions options;
  options.key = KeyKind::Gost;
  options.gostSet = &gostSet;
  return makeCertificate(options);
}

Bytes nameDer(const Name& name) {
  if (!name.der.empty()) return name.der;
  Crt crt = newCrt();
  for (const NameAttribute& attribute : name.rdns) setAttribute(crt.get(), gnutls_x509_crt_set_dn_by_oid, attribute);
  return rawSubject(crt.get());
}

Name commonName(const std::string& cn) { return Name{{textAttribute("2.5.4.3", cn)}, {}}; }

NameAttribute textAttribute(const std::string& oid, const std::string& text) { return NameAttribute{oid, text, {}}; }

NameAttribute rawAttribute(const std::string& oid, const Bytes& der) { return NameAttribute{oid, {}, der}; }

Bytes derString(unsigned char tag, const std::string& contents) {
  Bytes der{tag};
  size_t length = contents.size();
  if (length < 0x80) {
    der.push_back(static_cast<unsigned char>(length));
  } else {
    Bytes digits;
    for (size_t rest = length; rest != 0; rest >>= 8) digits.insert(digits.begin(), static_cast<unsigned char>(rest));
    der.push_back(static_cast<unsigned char>(0x80 | digits.size()));
    der.insert(der.end(), digits.begin(), digits.end());
  }
  der.insert(der.end(), contents.begin(), contents.end());
  return der;
}

Bytes fromHex(const std::string& hex) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  Bytes bytes;
  int high = -1;
  for (char c : hex) {
    int value = digit(c);
    if (value < 0) continue;  // blanks and line breaks in long literals
    if (high < 0) {
      high = value;
    } else {
      bytes.push_back(static_cast<unsigned char>(high << 4 | value));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("fromHex: odd number of digits");
  return bytes;
}

std::string toHex(const Bytes& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char byte : bytes) {
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

std::time_t utc(int year, int month, int day, int hour, int minute, int second) {
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  return timegm(&fields);
}

Bytes subjectSignToolValue() { return derString(0x0C, "Tellvane signing tool"); }

Bytes issuerSignToolValue() {
  std::string items;
  for (const char* text : {"Test CA tool", "Test CA", "Certificate 1", "Certificate 2"}) {
    Bytes item = derString(0x0C, text);
    items.append(item.begin(), item.end());
  }
  return derString(0x30, items);
}

std::string encryptPrivateKey(const std::string& plainPem, const std::string& password) {
  X509Key key = [] {
    gnutls_x509_privkey_t k = nullptr;
    check(gnutls_x509_privkey_init(&k), "privkey_init");
    return X509Key(k);
  }();
  gnutls_datum_t pem{reinterpret_cast<unsigned char*>(const_cast<char*>(plainPem.data())),
                     static_cast<unsigned>(plainPem.size())};
  check(gnutls_x509_privkey_import_pkcs8(key.get(), &pem, GNUTLS_X509_FMT_PEM, nullptr, GNUTLS_PKCS_PLAIN),
        "import_pkcs8");
  Datum encrypted;
  check(gnutls_x509_privkey_export2_pkcs8(key.get(), GNUTLS_X509_FMT_PEM, password.c_str(), GNUTLS_PKCS_PBES2_AES_256,
                                          &encrypted.value),
        "export2_pkcs8");
  return encrypted.text();
}

std::string toPem(const Bytes& der) {
  gnutls_datum_t in{const_cast<unsigned char*>(der.data()), static_cast<unsigned>(der.size())};
  Datum out;
  check(gnutls_pem_base64_encode2("CERTIFICATE", &in, &out.value), "pem_base64_encode");
  return out.text();
}

std::string sha1Hex(const Bytes& bytes) {
  Bytes digest(20);
  check(gnutls_hash_fast(GNUTLS_DIG_SHA1, bytes.data(), bytes.size(), digest.data()), "hash_fast");
  return toHex(digest);
}

namespace {

gnutls_datum_t datumOf(const Bytes& bytes) {
  return {const_cast<unsigned char*>(bytes.data()), static_cast<unsigned>(bytes.size())};
}

// A certificate from DER or PEM; null when the bytes are neither.
Crt importCertificate(const Bytes& file) {
  Crt crt = newCrt();
  const gnutls_datum_t data = datumOf(file);
  if (gnutls_x509_crt_import(crt.get(), &data, GNUTLS_X509_FMT_DER) >= 0 ||
      gnutls_x509_crt_import(crt.get(), &data, GNUTLS_X509_FMT_PEM) >= 0)
    return crt;
  return nullptr;
}

// Null for a key on a curve GnuTLS does not know.
X509Key importKey(const Bytes& file, const std::string& password) {
  gnutls_x509_privkey_t key = nullptr;
  check(gnutls_x509_privkey_init(&key), "privkey_init");
  X509Key owned(key);
  const gnutls_datum_t data = datumOf(file);
  for (gnutls_x509_crt_fmt_t format : {GNUTLS_X509_FMT_PEM, GNUTLS_X509_FMT_DER}) {
    const int result =
        gnutls_x509_privkey_import2(key, &data, format, password.empty() ? nullptr : password.c_str(), 0);
    if (result >= 0) return owned;
    if (result == GNUTLS_E_DECRYPTION_FAILED) throw std::runtime_error("the password does not open the key");
    if (result == GNUTLS_E_ECC_UNSUPPORTED_CURVE) return nullptr;
  }
  throw std::runtime_error(password.empty() ? "the key file is not a private key, or it needs --password"
                                            : "the key file is not a private key");
}

Bytes keyId(int result, const unsigned char* id, size_t size) {
  if (result < 0) throw std::runtime_error(std::string("cannot read the key: ") + gnutls_strerror(result));
  return Bytes(id, id + size);
}

Identity identityOf(gnutls_x509_crt_t crt, gnutls_x509_privkey_t key, const std::string& password) {
  unsigned char id[64];
  size_t size = sizeof id;
  const Bytes certificateKey = keyId(gnutls_x509_crt_get_key_id(crt, 0, id, &size), id, size);
  size = sizeof id;
  if (keyId(gnutls_x509_privkey_get_key_id(key, 0, id, &size), id, size) != certificateKey)
    throw std::runtime_error("the key does not belong to the certificate");

  Identity identity;
  Datum der, pem, spki;
  check(gnutls_x509_crt_export2(crt, GNUTLS_X509_FMT_DER, &der.value), "crt_export");
  identity.certificateDer = der.bytes();
  // The key stays as well protected as it came: a password given is kept.
  check(gnutls_x509_privkey_export2_pkcs8(key, GNUTLS_X509_FMT_PEM, password.empty() ? nullptr : password.c_str(),
                                          password.empty() ? GNUTLS_PKCS_PLAIN : GNUTLS_PKCS_PBES2_AES_256, &pem.value),
        "export_pkcs8");
  identity.privateKeyPem = pem.text();
  gnutls_pubkey_t pub = nullptr;
  check(gnutls_pubkey_init(&pub), "pubkey_init");
  PubKey publicKey(pub);
  check(gnutls_pubkey_import_x509(pub, crt, 0), "pubkey_import");
  check(gnutls_pubkey_export2(pub, GNUTLS_X509_FMT_DER, &spki.value), "pubkey_export");
  identity.publicKeyDer = spki.bytes();
  return identity;
}

// A plain PKCS#8 GOST key on a curve GnuTLS lacks, read by libgcrypt's side.
Identity gostIdentity(gnutls_x509_crt_t crt, const Bytes& keyFile) {
  Identity identity;
  Datum der;
  check(gnutls_x509_crt_export2(crt, GNUTLS_X509_FMT_DER, &der.value), "crt_export");
  identity.certificateDer = der.bytes();
  Bytes keyDer = keyFile;
  Datum decoded;
  const gnutls_datum_t text = datumOf(keyFile);
  if (gnutls_pem_base64_decode2("PRIVATE KEY", &text, &decoded.value) >= 0) keyDer = decoded.bytes();
  try {
    const tv::gost::PrivateKey key = tv::gost::PrivateKey::fromPkcs8(keyDer);
    const tv::gost::PublicKey certified = tv::gost::PublicKey::fromCertificate(identity.certificateDer);
    if (certified.parameterSet().algorithm != key.parameterSet().algorithm ||
        std::string(certified.parameterSet().curve) != key.parameterSet().curve ||
        certified.point() != key.publicKey().point())
      throw std::runtime_error("the key does not belong to the certificate");
    const Bytes pkcs8 = key.toPkcs8();
    const gnutls_datum_t plain = datumOf(pkcs8);
    Datum pem;
    check(gnutls_pem_base64_encode2("PRIVATE KEY", &plain, &pem.value), "pem_base64_encode");
    identity.privateKeyPem = pem.text();
    identity.publicKeyDer = certified.toSpki();
  } catch (const tv::gost::Error& error) {
    throw std::runtime_error(std::string("the key file is not a private key: ") + error.what());
  }
  return identity;
}

Identity readPkcs12(const Bytes& file, const std::string& password) {
  gnutls_pkcs12_t p12 = nullptr;
  check(gnutls_pkcs12_init(&p12), "pkcs12_init");
  Pkcs12 owned(p12);
  const gnutls_datum_t data = datumOf(file);
  if (gnutls_pkcs12_import(p12, &data, GNUTLS_X509_FMT_DER, 0) < 0 &&
      gnutls_pkcs12_import(p12, &data, GNUTLS_X509_FMT_PEM, 0) < 0)
    throw std::runtime_error("the file is neither a certificate nor a PKCS#12 file");
  if (gnutls_pkcs12_verify_mac(p12, password.c_str()) < 0)
    throw std::runtime_error(password.empty() ? "the PKCS#12 file needs its --password"
                                              : "the password does not open the PKCS#12 file");
  gnutls_x509_privkey_t key = nullptr;
  gnutls_x509_crt_t* chain = nullptr;
  unsigned int chainSize = 0;
  const int parsed =
      gnutls_pkcs12_simple_parse(p12, password.c_str(), &key, &chain, &chainSize, nullptr, nullptr, nullptr, 0);
  X509Key ownedKey(key);
  std::vector<Crt> certificates;
  for (unsigned i = 0; i < chainSize; ++i) certificates.emplace_back(chain[i]);
  gnutls_free(chain);
  if (parsed < 0 || key == nullptr || certificates.empty())
    throw std::runtime_error(std::string("the PKCS#12 file holds no certificate with its key: ") +
                             gnutls_strerror(parsed));
  return identityOf(certificates.front().get(), key, password);
}

}  // namespace

Bytes readCertificate(const Bytes& file) {
  const Crt crt = importCertificate(file);
  if (!crt) throw std::runtime_error("the file is not a certificate (DER or PEM)");
  Datum der;
  check(gnutls_x509_crt_export2(crt.get(), GNUTLS_X509_FMT_DER, &der.value), "crt_export");
  return der.bytes();
}

Identity readIdentity(const Bytes& file, const Bytes& keyFile, const std::string& password) {
  const Crt crt = importCertificate(file);
  if (!crt) return readPkcs12(file, password);
  const X509Key key = importKey(keyFile, password);
  if (key) return identityOf(crt.get(), key.get(), password);
  return gostIdentity(crt.get(), keyFile);
}

Bytes toPkcs12(const TestCertificate& certificate, const std::string& password) {
  const Crt crt = importCertificate(certificate.der);
  const X509Key key = importKey(Bytes(certificate.privateKeyPem.begin(), certificate.privateKeyPem.end()), "");
  if (!key) throw std::runtime_error("certificate maker: GnuTLS packs no key of this curve");
  unsigned char id[64];
  size_t size = sizeof id;
  check(gnutls_x509_crt_get_key_id(crt.get(), 0, id, &size), "crt_get_key_id");
  const gnutls_datum_t keyIdDatum{id, static_cast<unsigned>(size)};

  gnutls_pkcs12_bag_t certificates = nullptr, keys = nullptr;
  check(gnutls_pkcs12_bag_init(&certificates), "bag_init");
  Pkcs12Bag ownedCertificates(certificates);
  check(gnutls_pkcs12_bag_init(&keys), "bag_init");
  Pkcs12Bag ownedKeys(keys);
  const int certificateIndex = gnutls_pkcs12_bag_set_crt(certificates, crt.get());
  check(certificateIndex, "bag_set_crt");
  check(gnutls_pkcs12_bag_set_key_id(certificates, certificateIndex, &keyIdDatum), "bag_set_key_id");
  check(gnutls_pkcs12_bag_encrypt(certificates, password.c_str(), GNUTLS_PKCS_PBES2_AES_256), "bag_encrypt");
  const int keyIndex = gnutls_pkcs12_bag_set_privkey(keys, key.get(), password.c_str(), GNUTLS_PKCS_PBES2_AES_256);
  check(keyIndex, "bag_set_privkey");
  check(gnutls_pkcs12_bag_set_key_id(keys, keyIndex, &keyIdDatum), "bag_set_key_id");

  gnutls_pkcs12_t p12 = nullptr;
  check(gnutls_pkcs12_init(&p12), "pkcs12_init");
  Pkcs12 owned(p12);
  check(gnutls_pkcs12_set_bag(p12, certificates), "set_bag");
  check(gnutls_pkcs12_set_bag(p12, keys), "set_bag");
  check(gnutls_pkcs12_generate_mac2(p12, GNUTLS_MAC_SHA256, password.c_str()), "generate_mac");
  Datum der;
  check(gnutls_pkcs12_export2(p12, GNUTLS_X509_FMT_DER, &der.value), "pkcs12_export");
  return der.bytes();
}

}  // namespace provisioning
