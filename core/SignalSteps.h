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

// What the crossing test counts as zero: +-0 and NaN (unordered), and
// denormals too when the control state treats them as zero.
inline bool ZeroLike(float x) { return !(x < 0.0f || x > 0.0f); }

// A pulse when the input arrives at zero from non-zero, or changes sign.
// From a zero-like prev, a zero-like x gives none: the product is +-0 or NaN.
inline float ZeroCrossingPulse(float prev, float x) {
  float product = prev * x;
  return ((ZeroLike(x) && !ZeroLike(prev)) || product < 0.0f) ? kPulseHeight : 0.0f;
}

// How many of the first count samples in a row are zero-like. Four at a
// time with the same ordered comparisons, which treat denormals as the
// scalar ones do under every control state.
inline int32_t LeadingZeroLike(const float* input, int32_t count) {
  const __m128 zero = _mm_setzero_ps();
  int32_t n = 0;
  for (; n + 4 <= count; n += 4) {
    const __m128 x = _mm_loadu_ps(input + n);
    const int nonzero = _mm_movemask_ps(_mm_or_ps(_mm_cmplt_ps(x, zero), _mm_cmpgt_ps(x, zero)));
    if (nonzero != 0) return n + __builtin_ctz(static_cast<unsigned>(nonzero));
  }
  while (n < count && ZeroLike(input[n])) ++n;
  return n;
}

// How many of the last count samples in a row are zero-like, compared as
// LeadingZeroLike does.
inline int32_t TrailingZeroLike(const float* input, int32_t count) {
  const __m128 zero = _mm_setzero_ps();
  int32_t n = 0;
  for (; n + 4 <= count; n += 4) {
    const __m128 x = _mm_loadu_ps(input + count - n - 4);
    const int nonzero = _mm_movemask_ps(_mm_or_ps(_mm_cmplt_ps(x, zero), _mm_cmpgt_ps(x, zero)));
    // Bit 3 is the latest of the four samples: the zero bits above the
    // highest set one count the zero-like samples at the end.
    if (nonzero != 0) return n + __builtin_clz(static_cast<unsigned>(nonzero)) - 28;
  }
  while (n < count && ZeroLike(input[count - 1 - n])) ++n;
  return n;
}

inline void Fill(float* output, int32_t count, float value) {
  const __m128 four = _mm_set1_ps(value);
  int32_t n = 0;
  for (; n + 4 <= count; n += 4) _mm_storeu_ps(output + n, four);
  for (; n < count; ++n) output[n] = value;
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
