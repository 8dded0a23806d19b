// The cost of listing the personal store, side by side (see sidebyside.h)
// with GnuTLS reading the same files and writing each certificate's subject
// and issuer as text; and of one trace line when nobody views the trace.
#include "shared/clientcrypto.h"

#include "sidebyside.h"
#include "support/certfactory.h"
#include "support/tempprefix.h"

#include <windows.h>

#include <benchmark/benchmark.h>
#include <gnutls/x509.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A personal store of `count` GOST certificates with Russian names, dated
// an hour back; returns the files' paths.
std::vector<std::string> fillStore(const tvtest::TempPrefix& prefix, int count) {
  static std::vector<tvtest::Bytes> made;
  while (made.size() < static_cast<size_t>(count)) {
    tvtest::CertificateOptions options;
    const std::string number = std::to_string(made.size());
    options.subject = tvtest::Name{{tvtest::textAttribute("2.5.4.6", "RU"),
                                    tvtest::textAttribute("2.5.4.10", "ООО \"Ромашка\""),
                                    tvtest::textAttribute("2.5.4.3", "Иванов Иван " + number)},
                                   {}};
    options.issuer = tvtest::commonName("Test CA");
    made.push_back(tvtest::makeCertificate(options).der);
  }
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    paths.push_back(tvtest::installCertificate(prefix.path(), std::to_string(10000 + i) + ".der", made[i]));
    tvbench::dateBack(paths.back());
  }
  return paths;
}

// GnuTLS alone: each file read and imported, its subject and issuer as text.
void listDirectly(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    const std::string der = tvbench::readFile(path);
    gnutls_x509_crt_t crt;
    gnutls_x509_crt_init(&crt);
    const gnutls_datum_t data = {reinterpret_cast<unsigned char*>(const_cast<char*>(der.data())),
                                 static_cast<unsigned>(der.size())};
    if (gnutls_x509_crt_import(crt, &data, GNUTLS_X509_FMT_DER) < 0) throw std::runtime_error("import");
    gnutls_datum_t subject{}, issuer{};
    gnutls_x509_crt_get_dn3(crt, &subject, 0);
    gnutls_x509_crt_get_issuer_dn3(crt, &issuer, 0);
    benchmark::DoNotOptimize(subject.data);
    gnutls_free(subject.data);
    gnutls_free(issuer.data);
    gnutls_x509_crt_deinit(crt);
  }
}

void CertificateListEnvelope(benchmark::State& state) {
  tvtest::TempPrefix prefix;
  const std::vector<std::string> paths = fillStore(prefix, static_cast<int>(state.range(0)));
  tvbench::sideBySide(
      state,
      [] {
        BSTR envelope = nullptr;
        if (ClientCrypto().getCertListAsJson(nullptr, &envelope) != S_OK) throw std::runtime_error("list");
        SysFreeString(envelope);
      },
      [&] { listDirectly(paths); });
}
BENCHMARK(CertificateListEnvelope)->Apply(tvbench::overStoreSizes);

void TraceLineWithoutViewer(benchmark::State& state) {
  for (auto _ : state) OutputDebugStringA("CspContext::~CspContext");
}
BENCHMARK(TraceLineWithoutViewer);

}  // namespace
