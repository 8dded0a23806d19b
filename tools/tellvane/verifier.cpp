#include "verifier.h"

#include "common/exceptions.h"
#include "common/memoryinputstream.h"
#include "csp++/cryptoutils.h"
#include "csp++/cspcontext.h"
#include "csp++/signtuple.h"
#include "csp++/x509certificate.h"

#include <wincrypt.h>

#include <functional>
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

// A public key handle, destroyed with the object.
class PublicKey {
 public:
  PublicKey(HCRYPTPROV provider, const Crypto::X509Certificate& certificate) {
    CERT_PUBLIC_KEY_INFO& info = certificate.getContext()->pCertInfo->SubjectPublicKeyInfo;
    Crypto::check(CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING, &info, &key_));
  }
  ~PublicKey() { CryptDestroyKey(key_); }
  PublicKey(const PublicKey&) = delete;
  PublicKey& operator=(const PublicKey&) = delete;
  HCRYPTKEY handle() const { return key_; }

 private:
  HCRYPTKEY key_ = 0;
};

TupleReport check(const std::string& tupleBase64, const std::function<void(CspHash&)>& feed) {
  Sys::MemoryInputStream stream(base64Decode(tupleBase64));
  std::vector<BYTE> signature;
  Crypto::X509Certificate certificate;
  Aux::load_sign_tuple_from_stream(stream, signature, certificate);

  TupleReport report;
  report.thumbprint = certificate.thumbprint();
  report.subject = certificate.subjectFullName();
  report.signatureSize = signature.size();
  CspContext context(gostProviderName(), nullptr, PROV_GOST_2001_DH, CRYPT_VERIFYCONTEXT);
  PublicKey key(context.handle(), certificate);
  CspHash hash(context.handle(), CALG_GR3411);
  feed(hash);
  report.valid = hash.verify(signature, key.handle());
  return report;
}

}  // namespace

TupleReport checkSignTupleOverDigest(const std::string& tupleBase64, const std::vector<BYTE>& digest) {
  return check(tupleBase64, [&](CspHash& hash) { hash.setHashValue(digest); });
}

TupleReport checkSignTupleOverText(const std::string& tupleBase64, const std::string& utf8Text) {
  return check(tupleBase64, [&](CspHash& hash) {
    // hashData refuses no bytes; an unfed hash holds the digest of the empty text.
    if (!utf8Text.empty())
      hash.hashData(reinterpret_cast<const BYTE*>(utf8Text.data()), static_cast<DWORD>(utf8Text.size()));
  });
}

}  // namespace tool
