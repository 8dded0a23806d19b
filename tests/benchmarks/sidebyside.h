// An operation timed against its counterpart (GnuTLS doing the same work,
// ICU's converter, the same call on a smaller store), the two run in turn
// in every iteration, each by the CPU time of the thread: on a shared,
// loaded machine wall time stretches with whatever else runs, CPU time
// with the work done. The result is the median of each iteration's ratio:
// the two halves of an iteration run under the same conditions, which drift
// between iterations. Register with ->UseManualTime(): the reported time is
// the operation's; counters give the counterpart's median and the ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tvbench {

// A store's files are not seconds old: those an opening trusts are dated back.
inline void dateBack(const std::string& path) {
  const timespec anHourAgo{time(nullptr) - 3600, 0};
  const timespec times[2] = {anHourAgo, anHourAgo};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

inline std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

inline double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <class Operation, class Raw>
void sideBySide(benchmark::State& state, Operation operation, Raw raw) {
  std::vector<double> ours, theirs, ratios;
  for (auto _ : state) {
    const double start = threadSeconds();
    operation();
    const double middle = threadSeconds();
    raw();
    const double end = threadSeconds();
    ours.push_back(middle - start);
    theirs.push_back(end - middle);
    ratios.push_back(ours.back() / theirs.back());
    state.SetIterationTime(ours.back());
  }
  state.counters["raw_us"] = median(theirs) * 1e6;
  state.counters["ratio"] = median(ratios);
}

// The store sizes that show how an operation grows with the certificates.
inline void overStoreSizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgName("certificates")->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->UseManualTime()->Unit(
      benchmark::kMicrosecond);
}

}  // namespace tvbench
