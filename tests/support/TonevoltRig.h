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
    EXPECT_TRUE(instance_.Create(main));
    instance_.SetSampleRate(rate);
    instance_.Open();
  }

  void Set(uint32_t at, int32_t pin, int32_t value) {
    instance_.AddPinEvent(at, pin, STATUS_STATIC, value);
  }
  void SetCutoff(uint32_t at, float hz) {
    instance_.AddPinFloatEvent(at, kCutoff, STATUS_STATIC, hz);
  }

  // Processes input as one block; answers the output samples.
  std::vector<float> Run(const std::vector<float>& input) {
    std::vector<float> in(input);
    std::vector<float> out(input.size(), FromBits(0x7fbadbadu));
    instance_.ConnectBuffer(kInput, in.data());
    instance_.ConnectBuffer(kPitch, out.data());
    instance_.Process(0, static_cast<int32_t>(input.size()));
    clock_ += static_cast<uint32_t>(input.size());
    return out;
  }

  // Opens again; the host's clock answers where this rig's clock stands.
  void Reopen() {
    instance_.Host().sample_clock = clock_;
    instance_.Open();
  }

  uint32_t Clock() const { return clock_; }
  wbhost::Instance& Host() { return instance_; }

 private:
  wbhost::Instance instance_;
  uint32_t clock_ = 0;
};
