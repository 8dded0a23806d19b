// The cost of the runtime's paths that every call takes: an error reported
// through the envelope, a success envelope with a sign tuple's Base64, and a
// file read in blocks as the file digest reads it.
#include "common/exceptions.h"
#include "common/fileinputstream.h"
#include "shared/clientcrypto.h"

#include "support/tempprefix.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

void ErrorEnvelopeFromAPlatformCode(benchmark::State& state) {
  for (auto _ : state) {
    BSTR envelope = toBstr(ClientCrypto::errorWithString(Sys::OsError(2, "common/fileinputstream.cpp", 20).what()));
    benchmark::DoNotOptimize(envelope);
    SysFreeString(envelope);
  }
}
BENCHMARK(ErrorEnvelopeFromAPlatformCode);

void SuccessEnvelopeWithASignTuple(benchmark::State& state) {
  const std::string base64(2000, 'Q');  // about a 64-byte signature and a 1.4 KB certificate
  for (auto _ : state) {
    BSTR envelope = toBstr(ClientCrypto::successWithString(base64));
    benchmark::DoNotOptimize(envelope);
    SysFreeString(envelope);
  }
}
BENCHMARK(SuccessEnvelopeWithASignTuple);

void FileReadInBlocks(benchmark::State& state) {
  tvtest::TempPrefix folder;
  const std::string path = folder / "data";
  tvtest::writeFile(path, std::string(1 << 20, 'x'));
  std::vector<BYTE> block(64 * 1024);
  for (auto _ : state) {
    Sys::FileInputStream stream(path);
    while (stream.read(block.data(), static_cast<DWORD>(block.size())) != Sys::InputStream::kEndOfStream) {
    }
  }
  state.SetBytesProcessed(state.iterations() * (1 << 20));
}
BENCHMARK(FileReadInBlocks);

}  // namespace
