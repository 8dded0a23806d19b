// Signing with GOST R 34.10-2012 keys through the component against the
// same work done directly, side by side (see sidebyside.h): signHash against
// loading the key from its file and signing the digest; signString of
// 1 MiB against hashing its UTF-8 bytes with Streebog and that signature.
// The direct signer is the provider's own backend for the curve: GnuTLS on
// the two curves it knows (TC26 256-B, 512-A), libgcrypt on the others.
#include <oleauto.h>
#include <tvplatform.h>
#include <windows.h>

#include <benchmark/benchmark.h>
#include <gnutls/abstract.h>
#include <gnutls/crypto.h>

#include <stdexcept>
#include <string>

#include "csp++/cryptoutils.h"
#include "gostsign/gostsign.h"
#include "sidebyside.h"
#include "signcall.h"
#include "signedtexts.h"
#include "support/certfactory.h"
#include "support/comtest.h"
#include "support/gostsigning.h"
#include "support/tempprefix.h"

namespace {

using comtest::Bstr;

// One certificate of the set with its key, in a store of its own.
class Signer {
 public:
  explicit Signer(const tv::gost::ParameterSet& set)
      : set_(set), made_(tvtest::makeCertificate(set)), thumbprint_(wide(tvtest::sha1Hex(made_.der))) {
    tvbench::dateBack(tvtest::installCertificate(prefix_.path(), "signer.der", made_.der));
    tvtest::installKeyContainer("signer", made_.privateKeyPem, made_.publicKeyDer);
  }

  BSTR thumbprint() const { return thumbprint_.get(); }
  size_t digestSize() const { return tv::gost::keySize(set_.algorithm); }
  bool gnutlsCurve() const { return gnutls_ecc_curve_get_size(gnutls_oid_to_ecc_curve(set_.oid)) != 0; }

  // The key from its file, then a signature, by the provider's backend.
  void signDirectly(const tvtest::Bytes& digest) const {
    const std::string pem = tvbench::readFile(prefix_ / "keys/signer/private.pem");
    if (!gnutlsCurve()) {
      benchmark::DoNotOptimize(tv::gost::PrivateKey::fromPkcs8(tvtest::pemKeyDer(pem)).sign(digest));
      return;
    }
    gnutls_privkey_t key;
    gnutls_privkey_init(&key);
    const gnutls_datum_t data{reinterpret_cast<unsigned char*>(const_cast<char*>(pem.data())),
                              static_cast<unsigned>(pem.size())};
    const gnutls_datum_t hash{const_cast<unsigned char*>(digest.data()), static_cast<unsigned>(digest.size())};
    gnutls_datum_t signature{};
    const gnutls_sign_algorithm_t algorithm =
        set_.algorithm == tv::gost::KeyAlgorithm::Gost2012_512 ? GNUTLS_SIGN_GOST_512 : GNUTLS_SIGN_GOST_256;
    const bool signedIt = gnutls_privkey_import_x509_raw(key, &data, GNUTLS_X509_FMT_PEM, nullptr, GNUTLS_PKCS_PLAIN) >= 0 &&
                          gnutls_privkey_sign_hash2(key, algorithm, 0, &hash, &signature) >= 0;
    gnutls_free(signature.data);
    gnutls_privkey_deinit(key);
    if (!signedIt) throw std::runtime_error("GnuTLS did not sign");
  }

  tvtest::Bytes streebog(const std::string& bytes) const {
    tvtest::Bytes digest(digestSize());
    gnutls_hash_fast(digestSize() == 64 ? GNUTLS_DIG_STREEBOG_512 : GNUTLS_DIG_STREEBOG_256, bytes.data(),
                     bytes.size(), digest.data());
    return digest;
  }

 private:
  tvtest::TempPrefix prefix_;
  tvtest::ScopedPinentry noPinentry_;
  const tv::gost::ParameterSet& set_;
  tvtest::TestCertificate made_;
  Bstr thumbprint_;

  static std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }
};

// set:0 2012-256 on TC26 A (libgcrypt), set:1 2012-256 on TC26 B (GnuTLS),
// set:2 2012-512 on TC26 A (GnuTLS).
const tv::gost::ParameterSet& setOf(int64_t index) {
  static const size_t kSets[] = {5, 6, 9};  // in parameterSets()
  return tv::gost::parameterSets()[kSets[index]];
}

void SignHash2012(benchmark::State& state) {
  const Signer signer(setOf(state.range(0)));
  const tvtest::Bytes digest = signer.streebog("abc");
  const std::string encoded = base64Encode(digest);
  const Bstr hash(std::u16string(encoded.begin(), encoded.end()));
  tvbench::sideBySide(
      state, [&] { tvbench::callOperation(hash.get(), signer.thumbprint(), false); }, [&] { signer.signDirectly(digest); });
}

void SignString2012(benchmark::State& state) {
  const Signer signer(setOf(state.range(0)));
  const std::u16string wide = tvbench::textOf(tvbench::kTexts[1], 1 << 20);
  const std::string utf8 = tvbench::utf8Of(wide);
  const Bstr text(wide);
  tvbench::sideBySide(
      state, [&] { tvbench::callOperation(text.get(), signer.thumbprint(), true); },
      [&] { signer.signDirectly(signer.streebog(utf8)); });
}

}  // namespace

BENCHMARK(SignHash2012)->ArgName("set")->DenseRange(0, 2)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(SignString2012)->ArgName("set")->DenseRange(0, 2)->UseManualTime()->Unit(benchmark::kMillisecond);
