// The conversions on the signing path: the four signed texts of 1 MiB to
// UTF-8 against ICU's converter side by side, and to and from the thread's
// ANSI code page under a CP1251 locale.
#include <windows.h>

#include "sidebyside.h"
#include "signedtexts.h"
#include "support/threadlocale.h"

#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <string>

namespace {

void Utf8AgainstIcu(benchmark::State& state) {
  const std::u16string text = tvbench::textOf(tvbench::kTexts[state.range(0)], 1 << 20);
  std::string out(text.size() * 3, '\0');
  const int length = static_cast<int>(text.size());
  tvbench::sideBySide(
      state,
      [&] {
        benchmark::DoNotOptimize(
            WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), static_cast<int>(out.size()), nullptr, nullptr));
      },
      [&] {
        int32_t written = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &written, text.data(), length, &status);
        benchmark::DoNotOptimize(written);
      });
}
BENCHMARK(Utf8AgainstIcu)->ArgName("text")->DenseRange(0, 3)->UseManualTime()->Unit(benchmark::kMicrosecond);

void wideToCp1251(benchmark::State& state) {
  if (!tvtest::ThreadLocale::available("ru_RU.CP1251")) {
    state.SkipWithError("no ru_RU.CP1251 locale");
    return;
  }
  tvtest::ThreadLocale locale("ru_RU.CP1251");
  const std::u16string text = tvbench::textOf(tvbench::kTexts[1], 1 << 20);
  std::string out(text.size() * 3, '\0');
  for (auto _ : state) {
    const int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size() * 2));
}
BENCHMARK(wideToCp1251);

void cp1251ToWide(benchmark::State& state) {
  if (!tvtest::ThreadLocale::available("ru_RU.CP1251")) {
    state.SkipWithError("no ru_RU.CP1251 locale");
    return;
  }
  tvtest::ThreadLocale locale("ru_RU.CP1251");
  const std::string bytes(1024 * 1024, '\xCF');
  std::u16string out(bytes.size(), u'\0');
  for (auto _ : state) {
    const int n = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(),
                                      static_cast<int>(out.size()));
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(cp1251ToWide);

}  // namespace
