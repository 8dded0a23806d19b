// `tellvane digest` and `tellvane verify`.
#include "verifier.h"

#include "commands.h"

#include "common/memoryinputstream.h"
#include "csp++/cryptoutils.h"
#include "csp++/cspcontext.h"
#include "csp++/signtuple.h"
#include "csp++/x509certificate.h"
#include "gostsign/gostsign.h"

#include <gnutls/x509.h>
#include <nettle/nettle-meta.h>
#include <nettle/streebog.h>
#include <nlohmann/json.hpp>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

namespace tool {

std::string gostProviderName() {
  for (DWORD index = 0;; ++index) {
    DWORD type = 0, size = 0;
    if (!CryptEnumProvidersA(index, nullptr, 0, &type, nullptr, &size)) break;
    std::string name(size, '\0');
    if (!CryptEnumProvidersA(index, nullptr, 0, &type, name.data(), &size)) break;
    if (type == PROV_GOST_2001_DH) return name.c_str();
  }
  throw std::runtime_error("no GOST R 34.10-2001 provider is installed");
}

namespace {

// A sign tuple is a signature and one certificate: far below this.
constexpr std::streamsize kMaximumInput = 1 << 20;

CspContext verifyingContext() {
  return CspContext(gostProviderName(), nullptr, PROV_GOST_2001_DH, CRYPT_VERIFYCONTEXT);
}

constexpr char kNoGostKey[] = "the certificate in the tuple holds no GOST R 34.10 public key";

// A public key handle, destroyed with the object.
class PublicKey {
 public:
  PublicKey(HCRYPTPROV provider, const Crypto::X509Certificate& certificate) {
    CERT_PUBLIC_KEY_INFO& info = certificate.getContext()->pCertInfo->SubjectPublicKeyInfo;
    if (!CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING, &info, &key_)) throw std::runtime_error(kNoGostKey);
  }
  ~PublicKey() { CryptDestroyKey(key_); }
  PublicKey(const PublicKey&) = delete;
  PublicKey& operator=(const PublicKey&) = delete;
  HCRYPTKEY handle() const { return key_; }

 private:
  HCRYPTKEY key_ = 0;
};

// The certificate's GOST key, read apart from the provider: libgcrypt knows
// every parameter set.
tv::gost::PublicKey gostKeyOf(const Crypto::X509Certificate& certificate) {
  const PCCERT_CONTEXT context = certificate.getContext();
  try {
    return tv::gost::PublicKey::fromCertificate(
        tv::gost::Bytes(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded));
  } catch (const tv::gost::Error&) {
    throw std::runtime_error(kNoGostKey);
  }
}

// A certificate issued by its own key must carry that key's signature: else
// its names were changed after it was made. Only that signature counts: a
// missing CA flag, an expired period or a hash counted as weak alter
// nothing. One issued by another is checked against nothing here; its
// issuer's chain is the receiver's affair. Returns whether the certificate
// is self-issued.
bool checkSelfIssued(const Crypto::X509Certificate& certificate) {
  gnutls_x509_crt_t crt = nullptr;
  if (gnutls_x509_crt_init(&crt) < 0) throw std::bad_alloc();
  const PCCERT_CONTEXT context = certificate.getContext();
  const gnutls_datum_t der{context->pbCertEncoded, context->cbCertEncoded};
  const bool readable = gnutls_x509_crt_import(crt, &der, GNUTLS_X509_FMT_DER) >= 0;
  const bool selfIssued = readable && gnutls_x509_crt_check_issuer(crt, crt) != 0;
  gnutls_x509_crt_deinit(crt);
  if (!readable) throw std::runtime_error("the certificate in the tuple cannot be read");
  if (!selfIssued) return false;
  bool holds = false;
  try {
    holds = gostKeyOf(certificate).signedCertificate(
        tv::gost::Bytes(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded));
  } catch (const tv::gost::Error&) {
    throw std::runtime_error("the certificate in the tuple cannot be read");
  }
  if (!holds) throw std::runtime_error("the certificate in the tuple was altered after it was signed");
  return true;
}

// Streebog, which the 2001 provider lacks, by nettle as the provider hashes.
class Streebog {
 public:
  explicit Streebog(ALG_ID algorithm)
      : hash_(algorithm == CALG_GR3411_2012_512 ? &nettle_streebog512 : &nettle_streebog256),
        context_(hash_->context_size) {
    hash_->init(context_.data());
  }
  void update(const void* data, size_t size) {
    hash_->update(context_.data(), size, static_cast<const uint8_t*>(data));
  }
  std::vector<BYTE> digest() {
    std::vector<BYTE> value(hash_->digest_size);
    hash_->digest(context_.data(), value.size(), value.data());
    return value;
  }

 private:
  const nettle_hash* hash_;
  std::vector<unsigned char> context_;
};

std::vector<BYTE> streebogOf(ALG_ID algorithm, const std::string& input, const std::string& value) {
  Streebog hash(algorithm);
  if (input == "text") {
    hash.update(value.data(), value.size());
    return hash.digest();
  }
  std::ifstream file(value, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + value);
  std::vector<char> block(0x2000);
  while (file.read(block.data(), static_cast<std::streamsize>(block.size())) || file.gcount() > 0)
    hash.update(block.data(), static_cast<size_t>(file.gcount()));
  if (file.bad()) throw std::runtime_error("cannot read " + value);
  return hash.digest();
}

size_t digestSize(ALG_ID algorithm) { return algorithm == CALG_GR3411_2012_512 ? 64 : 32; }

// The tuple's signature and certificate, read to the tuple's end.
struct SignTuple {
  std::vector<BYTE> signature;
  Crypto::X509Certificate certificate;
};

SignTuple readSignTuple(const std::vector<BYTE>& bytes) {
  Sys::MemoryInputStream stream(bytes);
  SignTuple tuple;
  try {
    Aux::load_sign_tuple_from_stream(stream, tuple.signature, tuple.certificate);
  } catch (const std::exception& error) {
    throw std::runtime_error(std::string("the sign tuple cannot be read: ") + error.what());
  }
  if (stream.position() != stream.size())
    throw std::runtime_error("the sign tuple is followed by " + std::to_string(stream.size() - stream.position()) +
                             " more bytes");
  return tuple;
}

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

std::string readStandardInput() {
  std::string text;
  char block[4096];
  while (std::cin.read(block, sizeof block) || std::cin.gcount() > 0) {
    text.append(block, static_cast<size_t>(std::cin.gcount()));
    if (static_cast<std::streamsize>(text.size()) > kMaximumInput) throw std::runtime_error("the input is too long");
  }
  return text;
}

}  // namespace

std::vector<BYTE> digestOfInput(const ParsedArguments& parsed, ALG_ID algorithm) {
  const std::string input = oneOf(parsed, {"text", "file", "digest"});
  const std::string value = parsed.option(input);
  if (input == "digest") {
    std::vector<BYTE> digest;
    try {
      digest = base64Decode(value);
    } catch (const std::exception&) {
      throw std::runtime_error("the digest is not Base64");
    }
    if (digest.size() != digestSize(algorithm))
      throw std::runtime_error("the digest is not " + std::to_string(digestSize(algorithm)) + " bytes long");
    return digest;
  }
  if (algorithm != CALG_GR3411) return streebogOf(algorithm, input, value);
  const CspContext context = verifyingContext();
  if (input == "file") {
    if (!std::ifstream(value, std::ios::binary)) throw std::runtime_error("cannot read " + value);
    return digestFile(context, value);
  }
  CspHash hash(context.handle(), CALG_GR3411);
  // hashData refuses no bytes; an unfed hash holds the digest of the empty text.
  if (!value.empty()) hash.hashData(reinterpret_cast<const BYTE*>(value.data()), static_cast<DWORD>(value.size()));
  return hash.getHashValue();
}

std::vector<BYTE> signTupleBytes(const std::string& given) {
  std::string text = trimmed(given);
  if (!text.empty() && text[0] == '{') {
    const nlohmann::json envelope = nlohmann::json::parse(text, nullptr, false);
    if (!envelope.is_object() || !envelope.contains("success") || !envelope.contains("result") ||
        !envelope["result"].is_string())
      throw std::runtime_error("the input is not a result envelope");
    const std::string result = envelope["result"].get<std::string>();
    if (envelope["success"] != true) throw std::runtime_error("the envelope holds a failure: " + result);
    text = result;
  }
  try {
    return base64Decode(text);
  } catch (const std::exception&) {
    throw std::runtime_error("the sign tuple is not Base64");
  }
}

ALG_ID signTupleHash(const std::vector<BYTE>& bytes) {
  const SignTuple tuple = readSignTuple(bytes);
  try {
    return gostHashAlgorithm(tuple.certificate.publicKeyAlgorithm());
  } catch (const std::invalid_argument&) {
    throw std::runtime_error(kNoGostKey);
  }
}

TupleReport checkSignTuple(const std::vector<BYTE>& bytes, const std::vector<BYTE>& digest) {
  const SignTuple tuple = readSignTuple(bytes);
  const Crypto::X509Certificate& certificate = tuple.certificate;
  TupleReport report;
  report.selfIssued = checkSelfIssued(certificate);
  report.issuer = certificate.issuerFullName();
  report.thumbprint = certificate.thumbprint();
  report.subject = certificate.subjectFullName();
  report.signatureSize = tuple.signature.size();
  // The 2001 provider checks 2001 keys; libgcrypt checks 2012 keys apart
  // from the providers that signed them, in the providers' byte order (RFC
  // 4491's reversed).
  const tv::gost::PublicKey key = gostKeyOf(certificate);
  if (key.parameterSet().algorithm == tv::gost::KeyAlgorithm::Gost2001) {
    const CspContext context = verifyingContext();
    PublicKey handle(context.handle(), certificate);
    CspHash hash(context.handle(), CALG_GR3411);
    hash.setHashValue(digest);
    report.valid = hash.verify(tuple.signature, handle.handle());
  } else {
    report.valid = key.verify(digest, std::vector<BYTE>(tuple.signature.rbegin(), tuple.signature.rend()));
  }
  return report;
}

int runDigest(const Arguments& args) {
  const ParsedArguments parsed = parseArguments(args, {{"text", true}, {"file", true}, {"algorithm", true}});
  oneOf(parsed, {"text", "file"});
  const std::string algorithm = parsed.option("algorithm", "2001");
  static const std::pair<const char*, ALG_ID> kHashes[] = {
      {"2001", CALG_GR3411}, {"2012-256", CALG_GR3411_2012_256}, {"2012-512", CALG_GR3411_2012_512}};
  for (const auto& [name, hash] : kHashes)
    if (algorithm == name) {
      std::printf("%s\n", base64Encode(digestOfInput(parsed, hash)).c_str());
      return 0;
    }
  throw UsageError("unknown --algorithm '" + algorithm + "' (2001, 2012-256 or 2012-512)");
}

int runVerify(const Arguments& args) {
  const ParsedArguments parsed = parseArguments(args, {{"text", true}, {"file", true}, {"digest", true}}, 1, 1);
  oneOf(parsed, {"text", "file", "digest"});
  const std::string& given = parsed.positional[0];
  // The certificate's key decides the hash, so the tuple is read first.
  const std::vector<BYTE> tuple = signTupleBytes(given == "-" ? readStandardInput() : given);
  const std::vector<BYTE> digest = digestOfInput(parsed, signTupleHash(tuple));
  const TupleReport report = checkSignTuple(tuple, digest);
  if (!report.valid) {
    std::fprintf(stderr, "tellvane verify: the signature does not match the %s (signer %s, %s)\n",
                 oneOf(parsed, {"text", "file", "digest"}).c_str(), report.subject.c_str(), report.thumbprint.c_str());
    return 1;
  }
  std::printf("valid: signed by %s\nthumbprint %s\n", report.subject.c_str(), report.thumbprint.c_str());
  if (report.selfIssued)
    std::printf("the certificate is self-issued and its own signature holds\n");
  else
    std::printf("the certificate is issued by %s; its chain is not checked here\n", report.issuer.c_str());
  return 0;
}

}  // namespace tool
