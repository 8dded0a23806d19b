// Which library should do the GOST arithmetic: libgcrypt, which knows every
// parameter set, against GnuTLS, which knows two curves, on those two
// curves, side by side (see sidebyside.h). Each iteration loads the PKCS#8
// key from its text and signs one digest, as the provider does per
// signature. ratio = libgcrypt / GnuTLS.
#include <benchmark/benchmark.h>
#include <gnutls/abstract.h>
#include <gnutls/x509.h>

#include <stdexcept>
#include <string>

#include "gostsign/gostsign.h"
#include "sidebyside.h"
#include "support/certfactory.h"
#include "support/gostsigning.h"

namespace {

// Loads a PKCS#8 PEM key with GnuTLS and signs the digest.
void gnutlsLoadAndSign(const std::string& pem, const tvtest::Bytes& digest, gnutls_sign_algorithm_t algorithm) {
  gnutls_x509_privkey_t x509 = nullptr;
  gnutls_privkey_t key = nullptr;
  gnutls_x509_privkey_init(&x509);
  gnutls_privkey_init(&key);
  const gnutls_datum_t text{reinterpret_cast<unsigned char*>(const_cast<char*>(pem.data())),
                            static_cast<unsigned>(pem.size())};
  const gnutls_datum_t hash{const_cast<unsigned char*>(digest.data()), static_cast<unsigned>(digest.size())};
  gnutls_datum_t signature{};
  const bool signedIt = gnutls_x509_privkey_import_pkcs8(x509, &text, GNUTLS_X509_FMT_PEM, nullptr,
                                                         GNUTLS_PKCS_PLAIN) >= 0 &&
                        gnutls_privkey_import_x509(key, x509, 0) >= 0 &&
                        gnutls_privkey_sign_hash2(key, algorithm, 0, &hash, &signature) >= 0;
  gnutls_free(signature.data);
  gnutls_privkey_deinit(key);
  gnutls_x509_privkey_deinit(x509);
  if (!signedIt) throw std::runtime_error("GnuTLS did not sign");
}

void BM_LibgcryptAgainstGnutls(benchmark::State& state, const char* algorithm, const char* oid,
                               gnutls_sign_algorithm_t signature) {
  tv::gost::KeyAlgorithm ours;
  tv::gost::keyAlgorithmOf(algorithm, ours);
  const tv::gost::ParameterSet& set = *tv::gost::parameterSetOf(ours, oid);
  const tvtest::TestCertificate made = tvtest::makeCertificate(set);
  const tvtest::Bytes der = tvtest::pemKeyDer(made.privateKeyPem);
  const tvtest::Bytes digest(tv::gost::keySize(ours), 0x5A);
  tvbench::sideBySide(
      state, [&] { benchmark::DoNotOptimize(tv::gost::PrivateKey::fromPkcs8(der).sign(digest)); },
      [&] { gnutlsLoadAndSign(made.privateKeyPem, digest, signature); });
}

BENCHMARK_CAPTURE(BM_LibgcryptAgainstGnutls, Gost2001_CryptoProA, "1.2.643.2.2.19", "1.2.643.2.2.35.1",
                  GNUTLS_SIGN_GOST_94)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_LibgcryptAgainstGnutls, Gost2012_256_TC26B, "1.2.643.7.1.1.1.1", "1.2.643.7.1.2.1.1.2",
                  GNUTLS_SIGN_GOST_256)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_LibgcryptAgainstGnutls, Gost2012_512_TC26A, "1.2.643.7.1.1.1.2", "1.2.643.7.1.2.1.2.1",
                  GNUTLS_SIGN_GOST_512)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
