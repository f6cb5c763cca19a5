// The baseline row of every benchmark: memcpy of as many bytes as the driver's row delivers.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/replay_session.h"

namespace bench {

// Copies `bytes` once per iteration and returns the CPU seconds one copy took. Both buffers
// are touched before timing, so that page faults are not counted.
inline double TimedMemcpy(benchmark::State& state, size_t bytes) {
  std::vector<uint8_t> source(bytes, 0x5A), destination(bytes, 0);
  double start = ThreadCpuSeconds();
  for (auto _ : state) {
    std::memcpy(destination.data(), source.data(), bytes);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  double seconds = ThreadCpuSeconds() - start;
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
  return seconds / static_cast<double>(state.iterations());
}

}  // namespace bench
