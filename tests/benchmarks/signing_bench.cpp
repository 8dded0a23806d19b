// Signing through the component against GnuTLS doing the same work
// directly, side by side in one process:
//  - signString of a 1 MiB text against hashing and signing its UTF-8 bytes;
//  - signHash from end to end (store, search, key, signature) against
//    loading the key from its file and signing the digest.
#include <oleauto.h>
#include <tvplatform.h>

#include <benchmark/benchmark.h>
#include <gnutls/abstract.h>
#include <gnutls/crypto.h>
#include <gnutls/x509.h>
#include <nettle/base64.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "shared/clientcrypto.h"
#include "support/certfactory.h"
#include "support/gostsigning.h"
#include "support/tempprefix.h"

namespace {

// One prefix with one certificate and its key for the whole run.
struct Setup {
  tvtest::TempPrefix prefix;
  tvtest::ScopedPinentry noPinentry;
  tvtest::TestCertificate certificate = tvtest::makeCertificate();
  std::string thumbprint = tvtest::sha1Hex(certificate.der);
  std::string text = std::string(1 << 20, 'x');
  std::u16string wideText = std::u16string(1 << 20, u'x');

  Setup() {
    tvtest::installCertificate(prefix.path(), "signer.der", certificate.der);
    if (!TvCreateKeyContainer("signer", certificate.privateKeyPem.c_str(), certificate.publicKeyDer.data(),
                              static_cast<DWORD>(certificate.publicKeyDer.size())))
      throw std::runtime_error("cannot create the key container");
  }
};

Setup& setup() {
  static Setup instance;
  return instance;
}

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

// GnuTLS alone: the key from its file, then a signature over the digest.
gnutls_datum_t signDirectly(const unsigned char* digest) {
  const std::string pem = readFile(setup().prefix / "keys/signer/private.pem");
  gnutls_privkey_t key;
  gnutls_privkey_init(&key);
  const gnutls_datum_t data = {reinterpret_cast<unsigned char*>(const_cast<char*>(pem.data())),
                               static_cast<unsigned>(pem.size())};
  if (gnutls_privkey_import_x509_raw(key, &data, GNUTLS_X509_FMT_PEM, nullptr, GNUTLS_PKCS_PLAIN) < 0)
    throw std::runtime_error("key import");
  const gnutls_datum_t hash = {const_cast<unsigned char*>(digest), 32};
  gnutls_datum_t signature{};
  if (gnutls_privkey_sign_hash2(key, GNUTLS_SIGN_GOST_94, 0, &hash, &signature) < 0)
    throw std::runtime_error("sign");
  gnutls_privkey_deinit(key);
  return signature;
}

// The automation strings of a call, made once: the caller owns them, so
// their making is not the operation's time.
struct Arguments {
  BSTR thumbprint, text, digest;
  Arguments() {
    const Setup& s = setup();
    const std::u16string thumb(s.thumbprint.begin(), s.thumbprint.end());
    const tvtest::Bytes value = tvtest::gostDigest("abc");
    std::string encoded(BASE64_ENCODE_RAW_LENGTH(value.size()), '\0');
    base64_encode_raw(&encoded[0], value.size(), value.data());
    const std::u16string wideDigest(encoded.begin(), encoded.end());
    thumbprint = SysAllocStringLen(thumb.data(), static_cast<UINT>(thumb.size()));
    text = SysAllocStringLen(s.wideText.data(), static_cast<UINT>(s.wideText.size()));
    digest = SysAllocStringLen(wideDigest.data(), static_cast<UINT>(wideDigest.size()));
  }
  ~Arguments() {
    SysFreeString(thumbprint);
    SysFreeString(text);
    SysFreeString(digest);
  }
};

void callOperation(const Arguments& arguments, bool text) {
  BSTR result = nullptr;
  ClientCrypto client;
  const HRESULT status = text ? client.signString(arguments.text, arguments.thumbprint, nullptr, &result)
                              : client.signHash(arguments.digest, arguments.thumbprint, nullptr, &result);
  if (status != S_OK || result == nullptr || result[1] != u'"' || result[11] != u't')
    throw std::runtime_error("the operation failed");
  SysFreeString(result);
}

void SignString1MiB(benchmark::State& state) {
  const Arguments arguments;
  for (auto _ : state) callOperation(arguments, true);
}

void GnutlsHashAndSign1MiB(benchmark::State& state) {
  const std::string& text = setup().text;
  for (auto _ : state) {
    unsigned char digest[32];
    gnutls_hash_fast(GNUTLS_DIG_GOSTR_94, text.data(), text.size(), digest);
    gnutls_datum_t signature = signDirectly(digest);
    benchmark::DoNotOptimize(signature.data);
    gnutls_free(signature.data);
  }
}

void SignHashEndToEnd(benchmark::State& state) {
  const Arguments arguments;
  for (auto _ : state) callOperation(arguments, false);
}

void GnutlsLoadKeyAndSign(benchmark::State& state) {
  const tvtest::Bytes digest = tvtest::gostDigest("abc");
  for (auto _ : state) {
    gnutls_datum_t signature = signDirectly(digest.data());
    benchmark::DoNotOptimize(signature.data);
    gnutls_free(signature.data);
  }
}

}  // namespace

BENCHMARK(SignString1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(GnutlsHashAndSign1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(SignHashEndToEnd)->Unit(benchmark::kMicrosecond);
BENCHMARK(GnutlsLoadKeyAndSign)->Unit(benchmark::kMicrosecond);
