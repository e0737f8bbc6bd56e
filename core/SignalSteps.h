// One sample's worth of each stage of the signal path, as pure functions on
// explicit state, so that the sample loop can keep that state in registers.
// Every expression is evaluated in double and rounded to float only where a
// float is assigned: those are the rounding points the output depends on.
#pragma once

#include <emmintrin.h>

#include <cstdint>

constexpr float kPulseHeight = 1.0022f;  // 1.00220000743865966796875
constexpr float kGain = 2.2f;            // 2.2000000476837158203125: 1 V/kHz at 44100 Hz
constexpr float kTwoPi = 6.2831855f;     // 6.283185482025146484375
constexpr float kOpenCutoff = 40.0f;
constexpr float kLookupScale = 10000.0f;  // value * 10000 reads as Hz

// Octave factors for the list indices 0..6 (-3..+3 octaves); 1.0 leaves a
// value's bits unchanged, as no factor would.
constexpr float kOctaveFactors[7] = {0.125f, 0.25f, 0.5f, 1.0f, 2.0f, 4.0f, 8.0f};

inline float OctaveFactor(int32_t octave) {
  return static_cast<uint32_t>(octave) < 7 ? kOctaveFactors[octave] : 1.0f;
}

// A pulse when the input arrives at zero from non-zero, or changes sign.
// NaN compares unordered, so it counts as zero in both zero tests.
inline float ZeroCrossingPulse(float prev, float x) {
  float product = prev * x;
  bool x_is_zero = !(x < 0.0f || x > 0.0f);
  bool prev_is_nonzero = prev < 0.0f || prev > 0.0f;
  return ((x_is_zero && prev_is_nonzero) || product < 0.0f) ? kPulseHeight : 0.0f;
}

// y[n] = (a0 * x[n] + a1 * x[n-1]) + b1 * y[n-1]
inline float OnePole(float a0, float a1, float b1, float x, float& x1, float& y1) {
  float y = static_cast<float>((static_cast<double>(a0) * x + static_cast<double>(a1) * x1) +
                               static_cast<double>(b1) * y1);
  x1 = x;
  y1 = y;
  return y;
}

// Linear interpolation in the 1 V/oct table at value * 10000 Hz. The caller
// has the truncating rounding mode in force.
inline float PitchLookup(const float* table, int32_t table_size, float value) {
  float t = value * kLookupScale;
  // NaN and out-of-range values convert to INT32_MIN and take the lower clamp.
  int32_t n = _mm_cvttss_si32(_mm_set_ss(t));
  double f = static_cast<double>(t) - n;
  if (n < 0) {
    n = 0;
    f = 0.0;
  } else if (n > table_size - 2) {
    n = table_size - 2;  // weight 1 on the last entry: exactly that entry,
    f = 1.0;             // and nothing beyond the table is read
  }
  return static_cast<float>((1.0f - f) * table[n] + f * table[n + 1]);
}
