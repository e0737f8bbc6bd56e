// The benchmarks' input and modes, shared by the i386 and x86-64 sides so
// that both process the same samples the same way.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

constexpr int32_t kBenchBlock = 1024;
constexpr int32_t kBenchBlocks = 64;
constexpr double kBenchRate = 44100.0;

// About 1.5 s of a 440 Hz wave with a little noise, made with +, - and *
// only so that both targets compute the same samples.
inline const std::vector<float>& BenchSignal() {
  static const std::vector<float> signal = [] {
    std::vector<float> s(kBenchBlock * kBenchBlocks);
    double phase = 0.0;
    uint32_t seed = 20260101u;
    for (float& x : s) {
      phase += 440.0 / kBenchRate;
      phase -= static_cast<double>(static_cast<int64_t>(phase));
      const double t = phase < 0.5 ? phase * 4.0 - 1.0 : 3.0 - phase * 4.0;
      seed = seed * 1664525u + 1013904223u;
      const double noise = (static_cast<int32_t>(seed >> 8) - 8388608) / 8388608.0;
      x = static_cast<float>(0.5 * t * (1.5 - 0.5 * t * t) + 0.01 * noise);
    }
    return s;
  }();
  return signal;
}

// Benchmark arguments: poles (1 or 2), and 1 V/oct (1) or 1 V/kHz (0).
inline void BenchModes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"poles", "oct"});
  for (int poles : {1, 2})
    for (int oct : {0, 1}) b->Args({poles, oct});
}
