// An operation timed against its raw GnuTLS counterpart, the two run in turn
// in every iteration: on a shared, noisy machine both meet the same
// disturbances, so the ratio of their medians holds where absolute times
// do not. Register with ->UseManualTime(): the reported time is the
// operation's; counters give the counterpart's median and the ratio.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace tvbench {

inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

template <class Operation, class Raw>
void sideBySide(benchmark::State& state, Operation operation, Raw raw) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    const auto start = Clock::now();
    operation();
    const auto middle = Clock::now();
    raw();
    const auto end = Clock::now();
    ours.push_back(std::chrono::duration<double>(middle - start).count());
    theirs.push_back(std::chrono::duration<double>(end - middle).count());
    state.SetIterationTime(ours.back());
  }
  state.counters["raw_us"] = median(theirs) * 1e6;
  state.counters["ratio"] = median(ours) / median(theirs);
}

}  // namespace tvbench
