// Signing through the component against GnuTLS doing the same work
// directly, side by side in one process (see sidebyside.h):
//  - signString of 1 MiB (as UTF-8) of four kinds of text against hashing
//    and signing those UTF-8 bytes, and its peak memory on a 64 MiB text;
//  - signHash from end to end (store, search, key, signature) against
//    loading the key from its file and signing the digest, with 1 to 1,000
//    certificates in the personal store.
#include <oleauto.h>
#include <tvplatform.h>
#include <windows.h>

#include <benchmark/benchmark.h>
#include <gnutls/abstract.h>
#include <gnutls/crypto.h>
#include <gnutls/x509.h>
#include <nettle/base64.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "shared/clientcrypto.h"
#include "sidebyside.h"
#include "signedtexts.h"
#include "support/certfactory.h"
#include "support/comtest.h"
#include "support/gostsigning.h"
#include "support/tempprefix.h"

namespace {

// A personal store of `certificates` GOST certificates, the first
// `containers` of them with their keys; the signer is the last certificate
// that has a key.
class Store {
 public:
  Store(int certificates, int containers) {
    static std::vector<tvtest::TestCertificate> made;
    while (made.size() < static_cast<size_t>(certificates)) made.push_back(tvtest::makeCertificate());
    for (int i = 0; i < certificates; ++i)
      tvbench::dateBack(tvtest::installCertificate(prefix_.path(), std::to_string(10000 + i) + ".der", made[i].der));
    for (int i = 0; i < containers; ++i) {
      const std::string name = "key-" + std::to_string(i);
      if (!TvCreateKeyContainer(name.c_str(), made[i].privateKeyPem.c_str(), made[i].publicKeyDer.data(),
                                static_cast<DWORD>(made[i].publicKeyDer.size())))
        throw std::runtime_error("cannot create a key container");
    }
    signer_ = made[containers - 1];
    keyPath_ = prefix_ / ("keys/key-" + std::to_string(containers - 1) + "/private.pem");
    const std::string thumbprint = tvtest::sha1Hex(signer_.der);
    thumbprint_ = SysAllocStringLen(std::u16string(thumbprint.begin(), thumbprint.end()).data(), 40);
  }
  ~Store() { SysFreeString(thumbprint_); }
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Makes this store's prefix the platform's, where two stores live at once.
  void select() const { setenv("TELLVANE_PREFIX", prefix_.path().c_str(), 1); }

  BSTR thumbprint() const { return thumbprint_; }

  // GnuTLS alone: the signer's key from its file, then a signature.
  void signDirectly(const unsigned char* digest) const {
    const std::string pem = tvbench::readFile(keyPath_);
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
    benchmark::DoNotOptimize(signature.data);
    gnutls_free(signature.data);
    gnutls_privkey_deinit(key);
  }

 private:
  tvtest::TempPrefix prefix_;
  tvtest::ScopedPinentry noPinentry_;
  tvtest::TestCertificate signer_;
  std::string keyPath_;
  BSTR thumbprint_ = nullptr;
};

using comtest::Bstr;

void callOperation(BSTR first, BSTR thumbprint, bool text) {
  BSTR result = nullptr;
  ClientCrypto client;
  const HRESULT status =
      text ? client.signString(first, thumbprint, nullptr, &result) : client.signHash(first, thumbprint, nullptr, &result);
  if (status != S_OK || result == nullptr || result[11] != u't') throw std::runtime_error("the operation failed");
  SysFreeString(result);
}

void SignString1MiB(benchmark::State& state) {
  const Store store(1, 1);
  const std::u16string wide = tvbench::textOf(tvbench::kTexts[state.range(0)], 1 << 20);
  const std::string utf8 = tvbench::utf8Of(wide);
  const Bstr text(wide);
  tvbench::sideBySide(
      state, [&] { callOperation(text.get(), store.thumbprint(), true); },
      [&] {
        unsigned char digest[32];
        gnutls_hash_fast(GNUTLS_DIG_GOSTR_94, utf8.data(), utf8.size(), digest);
        store.signDirectly(digest);
      });
}
BENCHMARK(SignString1MiB)->ArgName("text")->DenseRange(0, 3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The resident set's high-water mark, reset to the current size first.
long residentKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return -1;
}

void SignString64MiBPeakMemory(benchmark::State& state) {
  const Store store(1, 1);
  const Bstr text(tvbench::textOf(tvbench::kTexts[1], 64 << 20).substr(0, 32 << 20));  // 64 MiB as an automation string
  const double textKiB = 64 * 1024;
  for (auto _ : state) {
    std::ofstream("/proc/self/clear_refs") << "5";  // the high-water mark starts again from here
    const long before = residentKiB("VmRSS:");
    callOperation(text.get(), store.thumbprint(), true);
    const long peak = residentKiB("VmHWM:");
    state.counters["peak_over_text"] = (textKiB + static_cast<double>(peak - before)) / textKiB;
  }
}
BENCHMARK(SignString64MiBPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// The digest that signHash is given, and its Base64.
const tvtest::Bytes kDigest = tvtest::gostDigest("abc");

Bstr encodedDigest() {
  std::string encoded(BASE64_ENCODE_RAW_LENGTH(kDigest.size()), '\0');
  base64_encode_raw(&encoded[0], kDigest.size(), kDigest.data());
  return Bstr(std::u16string(encoded.begin(), encoded.end()));
}

void SignHashEndToEnd(benchmark::State& state) {
  const int certificates = static_cast<int>(state.range(0));
  const Store store(certificates, std::min(certificates, 100));
  const Bstr hash = encodedDigest();
  tvbench::sideBySide(
      state, [&] { callOperation(hash.get(), store.thumbprint(), false); }, [&] { store.signDirectly(kDigest.data()); });
}
BENCHMARK(SignHashEndToEnd)->Apply(tvbench::overStoreSizes);

// signHash in a store of 10 certificates (as a user has) and of 1,000 with
// 100 key containers, against signHash with one of each, side by side: the
// growth without the drift of a shared machine between two benchmarks.
// With watched:0 no store folder is watched, and every opening checks each
// file: what the folder watch saves.
void SignHashAgainstOne(benchmark::State& state) {
  const int certificates = static_cast<int>(state.range(0));
  TvWatchStoreFolders(state.range(1) != 0);
  const Store one(1, 1);
  const Store many(certificates, std::min(certificates, 100));
  const Bstr hash = encodedDigest();
  tvbench::sideBySide(
      state,
      [&] {
        many.select();
        callOperation(hash.get(), many.thumbprint(), false);
      },
      [&] {
        one.select();
        callOperation(hash.get(), one.thumbprint(), false);
      });
  TvWatchStoreFolders(TRUE);
}
BENCHMARK(SignHashAgainstOne)
    ->ArgNames({"certificates", "watched"})
    ->Args({10, 1})
    ->Args({1000, 1})
    ->Args({1000, 0})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
