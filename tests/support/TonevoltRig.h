// Host-side plumbing shared by the signal tests: Tonevolt's pin numbers and
// one opened instance driven a block at a time.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "FloatBits.h"
#include "WBHost.h"

// Tonevolt's pins, as hosts number them.
constexpr int32_t kInput = 0, kCutoff = 1, kOctave = 2, kPitch = 3, kFreqScale = 4, kOrder = 5;

// One opened instance, with pin changes queued as a host queues them.
class SignalRig {
 public:
  explicit SignalRig(WBMainProc main, float rate = 44100.0f) {
    EXPECT_TRUE(m_instance.Create(main));
    m_instance.SetSampleRate(rate);
    m_instance.Open();
  }

  void Set(uint32_t at, int32_t pin, int32_t value) {
    m_instance.AddPinEvent(at, pin, STATUS_STATIC, value);
  }
  void SetCutoff(uint32_t at, float hz) {
    m_instance.AddPinFloatEvent(at, kCutoff, STATUS_STATIC, hz);
  }

  // Processes input as one block; answers the output samples.
  std::vector<float> Run(const std::vector<float>& input) {
    std::vector<float> in(input);
    std::vector<float> out(input.size(), FromBits(0x7fbadbadu));
    m_instance.ConnectBuffer(kInput, in.data());
    m_instance.ConnectBuffer(kPitch, out.data());
    m_instance.Process(0, static_cast<int32_t>(input.size()));
    m_clock += static_cast<uint32_t>(input.size());
    return out;
  }

  // Opens again; the host's clock answers where this rig's clock stands.
  void Reopen() {
    m_instance.Host().sample_clock = m_clock;
    m_instance.Open();
  }

  uint32_t Clock() const { return m_clock; }
  wbhost::Instance& Host() { return m_instance; }

 private:
  wbhost::Instance m_instance;
  uint32_t m_clock = 0;
};
