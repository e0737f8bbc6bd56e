// Tonevolt: measures the frequency of its input by counting zero crossings,
// smooths the pulse train with a one- or two-pole low-pass and outputs a
// control voltage, 1 V per kHz or 1 V per octave. 1.0 stands for 10 V.
#pragma once

#include <cstdint>

#include "FpuControl.h"
#include "TonevoltPins.h"
#include "WBModule_base.h"

constexpr int32_t kPitchTableSize = 12000;  // one entry per whole Hz, 0 to 11999

// Process-wide: set once when the library loads.
extern const double g_ln2;
extern const double g_ln440;
// Process-wide: captured by the latest open of any instance; loaded around
// every 1 V/oct processing call.
extern FpuControlWords g_saved_control_word;
extern FpuControlWords g_truncating_control_word;

class Module : public WBModule_base {
 public:
  explicit Module(WBHostCallback host_callback) : WBModule_base(host_callback) {}

  void OnPinStatusChange(WBPin* pin) override;
  void OnOpen() override;
  bool DescribeModule(ModuleProperties* properties) override;
  bool DescribePin(int32_t index, PinProperties* properties) override;
  virtual void ProcessSamples(int32_t buffer_offset, int32_t sample_count);

  // Single steps of the signal path, on the instance's own state.
  float DetectZeroCrossing(float x);
  float FilterStage1(float x);
  float FilterStage2(float x);
  void ComputeCoefficients(float cutoff);

  void ProcessWithSleepCountdown(int32_t buffer_offset, int32_t sample_count);

  float* m_input = nullptr;              // pin 0: the host writes its input buffer address here
  float m_prev_sample = 0.0f;            // x[n-1] of the crossing test
  float m_stage1_x1 = 0.0f;              // stage 1 x[n-1]
  float m_stage2_x1 = 0.0f;              // stage 2 x[n-1]
  float* m_output = nullptr;             // pin 3: the host writes its output buffer address here
  float m_stage1_y1 = 0.0f;              // stage 1 y[n-1]
  float m_stage2_y1 = 0.0f;              // stage 2 y[n-1]
  float m_cutoff = 40.0f;                // pin 1, Hz
  float m_applied_cutoff = 0.0f;         // cutoff the current coefficients were computed for
  float m_value = 0.0f;                  // the last value stored to the output
  float m_twice_rate = 0.0f;             // 2 * sample rate, from the latest open
  float m_a0 = 0.0f;                     // weight of x[n]
  float m_a1 = 0.0f;                     // weight of x[n-1]
  float m_b1 = 0.0f;                     // weight of y[n-1]
  float m_pitch_table[kPitchTableSize];  // 1 V/oct output for each whole Hz, built at open
  int32_t m_octave = 3;                  // pin 2: 0..6 is -3..+3 octaves
  int32_t m_freq_scale = 0;              // pin 4: 1 = 1 V/oct, else 1 V/kHz
  int32_t m_filter_order = 0;            // pin 5: 1 = two poles, else one
  int32_t m_sleep_countdown = 0;         // samples left before asking the host to sleep

 private:
  template <bool kTwoPoles, bool kVoltPerOctave>
  void RunSamples(const float* input, float* output, int32_t sample_count);
  void BuildPitchTable();
};
