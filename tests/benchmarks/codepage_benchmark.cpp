// The conversions on the signing path: a 1 MiB text (UTF-16) to UTF-8, and
// to and from the thread's ANSI code page under a CP1251 locale.
#include <windows.h>

#include "support/threadlocale.h"

#include <benchmark/benchmark.h>

#include <optional>
#include <string>

namespace {

// Mostly Cyrillic with Latin and a surrogate pair now and then.
std::u16string sampleText(size_t units) {
  const std::u16string piece = u"\u041F\u0440\u0438\u0432\u0435\u0442, world \U0001F600 ";
  std::u16string text;
  while (text.size() < units) text += piece;
  text.resize(units);
  return text;
}

// To UTF-8 (code page 0), or to the thread's ANSI code page (1) under a
// CP1251 locale.
void wideToNarrow(benchmark::State& state) {
  const bool ansi = state.range(0) != 0;
  if (ansi && !tvtest::ThreadLocale::available("ru_RU.CP1251")) {
    state.SkipWithError("no ru_RU.CP1251 locale");
    return;
  }
  std::optional<tvtest::ThreadLocale> locale;
  if (ansi) locale.emplace("ru_RU.CP1251");
  const std::u16string text = sampleText(512 * 1024);
  std::string out(text.size() * 3, '\0');
  for (auto _ : state) {
    const int n = WideCharToMultiByte(ansi ? CP_THREAD_ACP : CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size() * 2));
}
BENCHMARK(wideToNarrow)->ArgName("codepage")->Arg(0)->Arg(1);

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
