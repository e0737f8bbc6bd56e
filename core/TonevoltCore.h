// Tonevolt's signal path on its own: zero-crossing pulses, one or two
// one-pole low-pass stages, the fixed gain, the octave factor and the 1 V/oct
// table. It knows no host: an adapter sets the sample rate at open, hands it
// the settings and calls Process for each piece of a block.
//
// Rounding is the caller's: every float result rounds under the thread's
// rounding mode. The module's output comes from round-to-nearest in 1 V/kHz
// and round-toward-zero for a whole 1 V/oct call, coefficient update included.
#pragma once

#include <cstdint>

#include "PitchTable.h"
#include "TonevoltPins.h"

class TonevoltCore {
 public:
  // Once per open: twice the rate, and the coefficients of the open-time
  // 40 Hz cutoff. The cutoff last applied is kept, so a second open leaves
  // the 40 Hz coefficients in place until the cutoff next differs from it.
  // The filter state is kept too.
  void Open(float sample_rate);
  // Once per open, after Open: takes the process's shared table for the
  // floating-point control state in force, building it if this is the first
  // open under that state. 1 V/oct processing needs it.
  void BuildPitchTable();

  // Settings in the module's pin encoding; any value is accepted, and values
  // outside a list take its default path. They apply from the next Process.
  void SetCutoff(float hz) { m_cutoff = hz; }
  void SetOctaveIndex(int32_t index) { m_octave = index; }        // 0..6 = -3..+3; else none
  void SetFreqScale(int32_t scale) { m_freq_scale = scale; }      // 1 = 1 V/oct; else 1 V/kHz
  void SetFilterOrder(int32_t order) { m_filter_order = order; }  // 1 = two poles; else one
  bool VoltPerOctave() const { return m_freq_scale == kScaleVoltPerOctave; }

  // One piece: recomputes the coefficients if the cutoff changed, then
  // processes count samples (none when count <= 0).
  void Process(const float* input, float* output, int32_t count);

  float LastValue() const { return m_value; }
  const float* PitchTable() const { return m_pitch_table; }

 private:
  void ComputeCoefficients(float cutoff);
  template <bool kTwoPoles, bool kVoltPerOctave>
  void RunPiece(const float* input, float* output, int32_t count);
  template <bool kTwoPoles, bool kVoltPerOctave>
  void RunZeroLike(const float* input, float* output, int32_t count);
  template <bool kTwoPoles, bool kVoltPerOctave>
  void RunSamples(const float* input, float* output, int32_t count);
  template <bool kTwoPoles, bool kVoltPerOctave, bool kOctaveFactor>
  void PlainLoop(const float* input, float* output, int32_t count);

  // Settings.
  float m_cutoff = kCutoffDefaultHz;  // Hz
  int32_t m_octave = kOctaveIndexNoShift;
  int32_t m_freq_scale = kScaleVoltPerKhz;
  int32_t m_filter_order = kOrderOnePole;

  // State, carried from sample to sample and from piece to piece.
  float m_prev_sample = 0.0f;  // x[n-1] of the crossing test
  float m_stage1_x1 = 0.0f;    // stage 1 x[n-1]
  float m_stage1_y1 = 0.0f;    // stage 1 y[n-1]
  float m_stage2_x1 = 0.0f;    // stage 2 x[n-1]
  float m_stage2_y1 = 0.0f;    // stage 2 y[n-1]
  float m_value = 0.0f;        // the last value stored to the output

  // Per open, and per cutoff change.
  float m_applied_cutoff = 0.0f;         // cutoff the coefficients were last computed for
  float m_twice_rate = 0.0f;             // 2 * sample rate
  float m_a0 = 0.0f;                     // weight of x[n]
  float m_a1 = 0.0f;                     // weight of x[n-1]
  float m_b1 = 0.0f;                     // weight of y[n-1]
  const float* m_pitch_table = nullptr;  // shared and immutable: SharedPitchTable()
};
