// `tellvane digest` and `tellvane verify`.
#include "verifier.h"

#include "commands.h"

#include "common/memoryinputstream.h"
#include "csp++/cryptoutils.h"
#include "csp++/cspcontext.h"
#include "csp++/signtuple.h"
#include "csp++/x509certificate.h"

#include <gnutls/x509.h>
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

constexpr size_t kDigestSize = 32;
// A sign tuple is a signature and one certificate: far below this.
constexpr std::streamsize kMaximumInput = 1 << 20;

CspContext verifyingContext() {
  return CspContext(gostProviderName(), nullptr, PROV_GOST_2001_DH, CRYPT_VERIFYCONTEXT);
}

// A public key handle, destroyed with the object.
class PublicKey {
 public:
  PublicKey(HCRYPTPROV provider, const Crypto::X509Certificate& certificate) {
    CERT_PUBLIC_KEY_INFO& info = certificate.getContext()->pCertInfo->SubjectPublicKeyInfo;
    if (!CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING, &info, &key_))
      throw std::runtime_error("the certificate in the tuple holds no GOST R 34.10-2001 public key");
  }
  ~PublicKey() { CryptDestroyKey(key_); }
  PublicKey(const PublicKey&) = delete;
  PublicKey& operator=(const PublicKey&) = delete;
  HCRYPTKEY handle() const { return key_; }

 private:
  HCRYPTKEY key_ = 0;
};

// A certificate issued by its own key must carry that key's signature: else
// its names were changed after it was made. One issued by another is
// checked against nothing here; its issuer's chain is the receiver's affair.
// Returns whether the certificate is self-issued.
bool checkSelfIssued(const Crypto::X509Certificate& certificate) {
  gnutls_x509_crt_t crt = nullptr;
  if (gnutls_x509_crt_init(&crt) < 0) throw std::bad_alloc();
  const PCCERT_CONTEXT context = certificate.getContext();
  const gnutls_datum_t der{context->pbCertEncoded, context->cbCertEncoded};
  // The signature is checked even though the certificate itself is the
  // trusted one; GnuTLS counts GOST R 34.11-94 as broken, but it is what
  // these certificates are signed with.
  const unsigned flags = GNUTLS_VERIFY_DO_NOT_ALLOW_SAME | GNUTLS_VERIFY_ALLOW_BROKEN;
  unsigned status = 0;
  const bool readable = gnutls_x509_crt_import(crt, &der, GNUTLS_X509_FMT_DER) >= 0;
  const bool selfIssued = readable && gnutls_x509_crt_check_issuer(crt, crt) != 0;
  const bool holds = selfIssued && gnutls_x509_crt_verify(crt, &crt, 1, flags, &status) >= 0 &&
                     (status & ~static_cast<unsigned>(GNUTLS_CERT_EXPIRED | GNUTLS_CERT_NOT_ACTIVATED)) == 0;
  gnutls_x509_crt_deinit(crt);
  if (!readable) throw std::runtime_error("the certificate in the tuple cannot be read");
  if (selfIssued && !holds) throw std::runtime_error("the certificate in the tuple was altered after it was signed");
  return selfIssued;
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

std::vector<BYTE> digestOfInput(const ParsedArguments& parsed) {
  const std::string input = oneOf(parsed, {"text", "file", "digest"});
  const std::string value = parsed.option(input);
  if (input == "digest") {
    std::vector<BYTE> digest;
    try {
      digest = base64Decode(value);
    } catch (const std::exception&) {
      throw std::runtime_error("the digest is not Base64");
    }
    if (digest.size() != kDigestSize) throw std::runtime_error("the digest is not 32 bytes long");
    return digest;
  }
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

TupleReport checkSignTuple(const std::vector<BYTE>& tuple, const std::vector<BYTE>& digest) {
  Sys::MemoryInputStream stream(tuple);
  std::vector<BYTE> signature;
  Crypto::X509Certificate certificate;
  try {
    Aux::load_sign_tuple_from_stream(stream, signature, certificate);
  } catch (const std::exception& error) {
    throw std::runtime_error(std::string("the sign tuple cannot be read: ") + error.what());
  }
  if (stream.position() != stream.size())
    throw std::runtime_error("the sign tuple is followed by " + std::to_string(stream.size() - stream.position()) +
                             " more bytes");

  TupleReport report;
  report.selfIssued = checkSelfIssued(certificate);
  report.issuer = certificate.issuerFullName();
  report.thumbprint = certificate.thumbprint();
  report.subject = certificate.subjectFullName();
  report.signatureSize = signature.size();
  const CspContext context = verifyingContext();
  PublicKey key(context.handle(), certificate);
  CspHash hash(context.handle(), CALG_GR3411);
  hash.setHashValue(digest);
  report.valid = hash.verify(signature, key.handle());
  return report;
}

int runDigest(const Arguments& args) {
  const ParsedArguments parsed = parseArguments(args, {{"text", true}, {"file", true}});
  oneOf(parsed, {"text", "file"});
  std::printf("%s\n", base64Encode(digestOfInput(parsed)).c_str());
  return 0;
}

int runVerify(const Arguments& args) {
  const ParsedArguments parsed = parseArguments(args, {{"text", true}, {"file", true}, {"digest", true}}, 1, 1);
  const std::vector<BYTE> digest = digestOfInput(parsed);
  const std::string& tuple = parsed.positional[0];
  const TupleReport report = checkSignTuple(signTupleBytes(tuple == "-" ? readStandardInput() : tuple), digest);
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
