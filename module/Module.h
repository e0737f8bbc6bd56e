// Tonevolt on the 32-bit plug-in interface: description, pins, events,
// output status and sleep, and the floating-point control words around the
// signal path. 1.0 stands for 10 V.
#pragma once

#include <cstdint>

#include "TonevoltCore.h"
#include "WBModule_base.h"

class Module : public WBModule_base {
 public:
  explicit Module(WBHostCallback host_callback) : WBModule_base(host_callback) {}

  void OnPinStatusChange(WBPin* pin) override;
  void OnOpen() override;
  bool DescribeModule(ModuleProperties* properties) override;
  bool DescribePin(int32_t index, PinProperties* properties) override;

  void ProcessSamples(int32_t buffer_offset, int32_t sample_count);
  void ProcessWithSleepCountdown(int32_t buffer_offset, int32_t sample_count);

 private:
  // The pins' variables: the host writes the buffer addresses, the pin
  // machinery the settings (the low 16 bits of a list index).
  float* m_input = nullptr;                // pin 0
  float* m_output = nullptr;               // pin 3
  float m_cutoff = kCutoffDefaultHz;       // pin 1, Hz
  int32_t m_octave = kOctaveDefaultIndex;  // pin 2: 0..6 is -3..+3 octaves
  int32_t m_freq_scale = kScaleDefault;    // pin 4: 1 = 1 V/oct, else 1 V/kHz
  int32_t m_filter_order = kOrderDefault;  // pin 5: 1 = two poles, else one
  int32_t m_sleep_countdown = 0;           // samples left before asking the host to sleep

  TonevoltCore m_core;
};
