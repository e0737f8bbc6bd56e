// The floor of the benchmarks: the tightest sample loop we can write that
// produces the module's output bits for the benchmark's settings (40 Hz
// cutoff, octave index 3, 44100 Hz), with all state in registers and no calls.
// It shares no signal-path code with the module, so a slow step there shows up
// as a ratio above 1. The benchmark checks it bit-equal to the module before
// timing it.
#pragma once

#include <emmintrin.h>

#include <cmath>
#include <cstdint>

#include "FpuControl.h"  // switching the rounding mode is not what is measured

namespace floor_loop {

constexpr int32_t kTableSize = 12000;
constexpr float kPulse = 1.0022f;
constexpr float kGain = 2.2f;
constexpr float kScale = 10000.0f;

// The 1 V/oct table: entry i = 0.1 * (log2(i / 440) + 5), entry 0 = -0.9.
struct PitchTable {
  float entry[kTableSize];
  PitchTable() {
    const double ln2 = std::log(2.0), ln440 = std::log(440.0);
    entry[0] = -0.9f;
    for (int32_t i = 1; i < kTableSize; ++i) {
      entry[i] =
          static_cast<float>(((std::log(static_cast<double>(i)) - ln440) / ln2 + 5.0f) * 0.1);
    }
  }
};

// One instance's worth of loop state between calls.
struct State {
  float prev = 0.0f;        // previous input sample
  bool prev_pulse = false;  // stage 1 x[n-1] is 0 or the pulse height
  float y1 = 0.0f;          // stage 1 y[n-1]
  float x2 = 0.0f;          // stage 2 x[n-1]
  float y2 = 0.0f;          // stage 2 y[n-1]
  float a = 0.0f;           // a0 = a1
  float b1 = 0.0f;
};

// Coefficients for 40 Hz at 44100 Hz, as the first processing call computes
// them: under the rounding mode of that call.
inline void SetCoefficients(State& s) {
  // volatile: computed at run time, in the caller's rounding mode.
  volatile float rate = 44100.0f, cutoff = 40.0f;
  const float twice_rate = rate * 2.0f;
  const float w = 6.2831855f * cutoff;
  const float k = static_cast<float>(1.0f / (static_cast<double>(w) + twice_rate));
  s.a = static_cast<float>(static_cast<double>(w) * k);
  s.b1 = static_cast<float>((static_cast<double>(twice_rate) - w) * k);
}

// y = (a0 x + a1 x[n-1]) + b1 y[n-1], rounded to float once.
//
// Stage 1 is fed only 0 or the pulse height, and a0 = a1, so its first sum is
// 0, A or 2A with A = a0 * pulse, all exact in double: it can be taken as a
// count of pulses times A. Which of the two forms gives the tighter loop
// depends on the register pressure of the rest (8 SSE registers on i386): the
// count form wins without the table lookup, the plain form with it.
template <bool kTwoPoles, bool kVoltPerOctave>
inline void Run(State& s, const float* table, const float* input, float* output, int32_t count) {
  constexpr bool kCountForm = !kVoltPerOctave;
  const double a = s.a, b1 = s.b1;
  const double pulse_term = a * kPulse;
  float prev = s.prev;
  bool prev_nonzero = prev < 0.0f || prev > 0.0f;
  int32_t prev_pulse = s.prev_pulse;
  float x1 = s.prev_pulse ? kPulse : 0.0f;
  float y1 = s.y1, x2 = s.x2, y2 = s.y2;
  for (int32_t i = 0; i < count; ++i) {
    const float x = input[i];
    if (kCountForm) {
      const bool nonzero = std::fabs(x) > 0.0f;  // NaN and +-0 are zero
      const int32_t pulse = (prev * x < 0.0f) | (!nonzero & prev_nonzero);
      prev_nonzero = nonzero;
      y1 = static_cast<float>(static_cast<double>(pulse + prev_pulse) * pulse_term + b1 * y1);
      prev_pulse = pulse;
    } else {
      const bool zero = !(x < 0.0f || x > 0.0f);
      const bool pulsed = (zero && (prev < 0.0f || prev > 0.0f)) || prev * x < 0.0f;
      const float pulse = pulsed ? kPulse : 0.0f;
      y1 = static_cast<float>((a * pulse + a * x1) + b1 * y1);
      x1 = pulse;
    }
    prev = x;
    float value = y1;
    if (kTwoPoles) {
      y2 = static_cast<float>((a * value + a * x2) + b1 * y2);
      x2 = value;
      value = y2;
    }
    value = value * kGain;  // octave index 3: no factor
    if (kVoltPerOctave) {
      const float t = value * kScale;
      int32_t n = _mm_cvttss_si32(_mm_set_ss(t));
      double f = static_cast<double>(t) - n;
      if (n < 0) {
        n = 0;
        f = 0.0;
      } else if (n > kTableSize - 2) {
        n = kTableSize - 2;  // weight 1 on the last entry
        f = 1.0;
      }
      value = static_cast<float>((1.0 - f) * table[n] + f * table[n + 1]);
    }
    output[i] = value;
  }
  s.prev = prev;
  s.prev_pulse = kCountForm ? prev_pulse != 0 : x1 != 0.0f;
  s.y1 = y1;
  s.x2 = x2;
  s.y2 = y2;
}

// One call, as a host block: the whole call rounds toward zero in 1 V/oct.
template <bool kTwoPoles, bool kVoltPerOctave>
void Call(State& s, const float* table, const FpuControlWords& saved, const float* input,
          float* output, int32_t count) {
  if (kVoltPerOctave) LoadFpuControlWords(TruncatingWords(saved));
  Run<kTwoPoles, kVoltPerOctave>(s, table, input, output, count);
  if (kVoltPerOctave) LoadFpuControlWords(saved);
}

}  // namespace floor_loop
