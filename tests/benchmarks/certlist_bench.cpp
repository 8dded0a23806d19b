// The cost of listing the personal store: every call opens the store (reads
// and decodes every file), describes each certificate and builds the
// envelope; and of a search by thumbprint, which reads the whole store too.
#include "csp++/certificatestore.h"
#include "common/wide.h"
#include "shared/clientcrypto.h"

#include "support/certfactory.h"
#include "support/tempprefix.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// A personal store of `count` GOST certificates; returns the last one's thumbprint.
std::string fillStore(const tvtest::TempPrefix& prefix, int count) {
  std::string last;
  for (int i = 0; i < count; ++i) {
    tvtest::CertificateOptions options;
    options.subject = tvtest::Name{{tvtest::textAttribute("2.5.4.6", "RU"),
                                    tvtest::textAttribute("2.5.4.10", "ООО \"Ромашка\""),
                                    tvtest::textAttribute("2.5.4.3", "Иванов Иван " + std::to_string(i))},
                                   {}};
    options.issuer = tvtest::commonName("Test CA");
    tvtest::Bytes der = tvtest::makeCertificate(options).der;
    tvtest::installCertificate(prefix.path(), std::to_string(i) + ".der", der);
    last = tvtest::sha1Hex(der);
  }
  return last;
}

void CertificateListEnvelope(benchmark::State& state) {
  tvtest::TempPrefix prefix;
  fillStore(prefix, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    BSTR envelope = nullptr;
    ClientCrypto().getCertListAsJson(nullptr, &envelope);
    benchmark::DoNotOptimize(envelope);
    SysFreeString(envelope);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(CertificateListEnvelope)->Arg(1)->Arg(10)->Arg(100);

void FindLastCertificateByThumbprint(benchmark::State& state) {
  tvtest::TempPrefix prefix;
  std::string thumbprint = fillStore(prefix, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Crypto::CertificateStore store(WSTR("My"), false, true);
    benchmark::DoNotOptimize(store.findByThumbprint(thumbprint));
  }
}
BENCHMARK(FindLastCertificateByThumbprint)->Arg(10)->Arg(100);

}  // namespace
