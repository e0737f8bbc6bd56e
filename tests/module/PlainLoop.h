// Tonevolt's signal path written out plainly, one sample at a time and with
// no shortcut, from the formulas: the reference whose output bits the
// module's must equal after any history. Settings take the values a host
// sends to the pins; a piece is what the module processes between events.
#pragma once

#include <emmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FpuControl.h"

namespace plain_loop {

// ------------------------------------------------- thread's FP control

// The control words and their rounding policy are the module's own
// (FpuControl.h); the arithmetic below is what is written out plainly.
using Words = FpuControlWords;

inline Words ReadWords() {
  Words words = ReadFpuControlWords();
  words.mxcsr &= ~0x3Fu;  // not the sticky flags
  return words;
}

inline void LoadWords(Words words) { LoadFpuControlWords(words); }

// Every exception masked, as an open leaves them.
inline Words Masked(Words words) {
  words.x87 |= kX87ExceptionMasks;
  words.mxcsr |= kMxcsrExceptionMasks;
  return words;
}

// rc: 0 nearest, 1 down, 2 up, 3 toward zero; in both units.
inline Words WithRounding(Words words, uint32_t rc) {
  words.x87 = static_cast<uint16_t>((words.x87 & ~0x0C00u) | rc << 10);
  words.mxcsr = (words.mxcsr & ~0x6000u) | rc << 13;
  return words;
}

// Loads words for a scope and restores the ones found.
class WordsScope {
 public:
  explicit WordsScope(Words words) : m_saved(ReadWords()) { LoadWords(words); }
  ~WordsScope() { LoadWords(m_saved); }
  WordsScope(const WordsScope&) = delete;
  WordsScope& operator=(const WordsScope&) = delete;

 private:
  Words m_saved;
};

// False where the processor ignores the rounding mode (valgrind's emulation),
// so that no test can tell one mode's table from another's.
inline bool RoundingModesShow() {
  // volatile, so that each division stays between its scope's loads.
  volatile float one = 1.0f, three = 3.0f, up, down;
  {
    WordsScope scope(WithRounding(ReadWords(), 2));
    up = one / three;
  }
  {
    WordsScope scope(WithRounding(ReadWords(), 1));
    down = one / three;
  }
  return up != down;
}

// False where the processor ignores denormals-are-zero (valgrind's emulation).
inline bool DenormalsAreZeroShow() {
  volatile float least = 1e-45f;
  volatile bool above_zero;
  {
    Words words = ReadWords();
    words.mxcsr |= 0x0040;
    WordsScope scope(words);
    above_zero = least > 0.0f;
  }
  return !above_zero;
}

// --------------------------------------------------------------- table

// Computed when the test program loads, as the module computes its own.
inline const double kLn2 = std::log(2.0);
inline const double kLn440 = std::log(440.0);

// The 1 V/oct table by its formula, under the control state in force.
inline std::vector<float> TableByFormula() {
  std::vector<float> table(12000);
  table[0] = -0.9f;
  for (int32_t i = 1; i < 12000; ++i)
    table[i] =
        static_cast<float>(((std::log(static_cast<double>(i)) - kLn440) / kLn2 + 5.0f) * 0.1);
  return table;
}

// ---------------------------------------------------------------- loop

class PlainLoop {
 public:
  // As an open under the control state in force: the table, the words every
  // 1 V/oct piece truncates with, and 40 Hz coefficients, which stay until
  // a piece finds a cutoff that compares unequal to the last one applied
  // (none yet: 0).
  explicit PlainLoop(float rate = 44100.0f) : m_open_words(Masked(ReadWords())) {
    WordsScope open(m_open_words);
    m_twice_rate = rate * 2.0f;
    Coefficients(40.0f);
    m_table = TableByFormula();
  }

  // The pins' values as a host sends them; list pins keep their low 16 bits.
  void SetCutoff(float hz) { m_cutoff = hz; }
  void SetOctave(int32_t value) { m_octave = value & 0xFFFF; }
  void SetScale(int32_t value) { m_volt_per_octave = (value & 0xFFFF) == 1; }
  void SetOrder(int32_t value) { m_two_poles = (value & 0xFFFF) == 1; }

  // One piece. A 1 V/oct piece runs whole, coefficients included, under the
  // open's words rounding toward zero, and leaves the open's words behind.
  void Piece(const float* input, float* output, int32_t count) {
    if (m_volt_per_octave) LoadWords(TruncatingWords(m_open_words));
    if (m_cutoff < m_applied_cutoff || m_cutoff > m_applied_cutoff) {
      m_applied_cutoff = m_cutoff;
      Coefficients(m_cutoff);
    }
    for (int32_t i = 0; i < count; ++i) {
      const State before = m_state;
      output[i] = Step(input[i]);
      if (!Zero(before.prev) || !Zero(input[i]) || !SameState(before, m_state)) continue;
      ++m_held_samples;  // a zero-like sample after a zero-like one that changed nothing
      const float last = m_two_poles ? m_state.y2 : m_state.y1;
      if (!(last == 0.0f)) ++m_held_off_zero;
    }
    if (m_volt_per_octave) LoadWords(m_open_words);
  }

  // Samples that left the state as it was, and those of them held away from 0.
  int64_t HeldSamples() const { return m_held_samples; }
  int64_t HeldOffZero() const { return m_held_off_zero; }
  const std::vector<float>& Table() const { return m_table; }

 private:
  struct State {
    float prev = 0.0f;
    float x1 = 0.0f, y1 = 0.0f;  // stage 1
    float x2 = 0.0f, y2 = 0.0f;  // stage 2
  };

  static bool Zero(float x) { return !(x < 0.0f || x > 0.0f); }
  static uint32_t Bits(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
  }
  static bool SameState(const State& a, const State& b) {
    return Bits(a.x1) == Bits(b.x1) && Bits(a.y1) == Bits(b.y1) && Bits(a.x2) == Bits(b.x2) &&
           Bits(a.y2) == Bits(b.y2);
  }

  void Coefficients(float cutoff) {
    const float w = 6.2831855f * cutoff;
    const float k = static_cast<float>(1.0f / (static_cast<double>(w) + m_twice_rate));
    m_a0 = m_a1 = static_cast<float>(static_cast<double>(w) * k);
    m_b1 = static_cast<float>((static_cast<double>(m_twice_rate) - w) * k);
  }

  float Stage(float x, float& x1, float& y1) const {
    const float y =
        static_cast<float>((static_cast<double>(m_a0) * x + static_cast<double>(m_a1) * x1) +
                           static_cast<double>(m_b1) * y1);
    x1 = x;
    y1 = y;
    return y;
  }

  float Step(float x) {
    State& s = m_state;
    const float product = s.prev * x;
    const bool pulse = (Zero(x) && !Zero(s.prev)) || product < 0.0f;
    s.prev = x;
    float v = Stage(pulse ? 1.0022f : 0.0f, s.x1, s.y1);
    if (m_two_poles) v = Stage(v, s.x2, s.y2);
    v = v * 2.2f;
    static const float kFactors[7] = {0.125f, 0.25f, 0.5f, 1.0f, 2.0f, 4.0f, 8.0f};
    v = v * (m_octave < 7 ? kFactors[m_octave] : 1.0f);
    if (m_volt_per_octave) v = Lookup(v);
    return v;
  }

  float Lookup(float v) const {
    const float t = v * 10000.0f;
    int32_t n = _mm_cvttss_si32(_mm_set_ss(t));
    double f = static_cast<double>(t) - n;
    if (n < 0) {
      n = 0;
      f = 0.0;
    } else if (n > 11998) {
      n = 11998;
      f = 1.0;
    }
    return static_cast<float>((1.0f - f) * m_table[n] + f * m_table[n + 1]);
  }

  Words m_open_words;
  float m_twice_rate = 0.0f;
  std::vector<float> m_table;
  float m_cutoff = 40.0f, m_applied_cutoff = 0.0f;
  int32_t m_octave = 3;
  bool m_volt_per_octave = false, m_two_poles = false;
  float m_a0 = 0.0f, m_a1 = 0.0f, m_b1 = 0.0f;
  State m_state;
  int64_t m_held_samples = 0, m_held_off_zero = 0;
};

}  // namespace plain_loop
