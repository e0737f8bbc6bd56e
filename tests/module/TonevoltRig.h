// The host side every Tonevolt test drives the module with: one instance
// created through main, set up and opened as a host does, pin changes
// queued as a host queues them, and blocks processed through the record.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "FloatBits.h"
#include "TonevoltPins.h"
#include "WBHost.h"

// Tonevolt's pins, as hosts number them.
constexpr int32_t kInput = PIN_INPUT, kCutoff = PIN_FILTER_CUTOFF, kOctave = PIN_OCTAVE,
                  kPitch = PIN_PITCH, kFreqScale = PIN_FREQ_SCALE, kOrder = PIN_FILTER_ORDER;

// What a host does before open.
struct RigSetup {
  float rate = 44100.0f;
  uint32_t host_clock = 0;    // the host's clock at open
  int32_t block_size = 0;     // 0: the module's default
  bool with_callback = true;  // false: main gets a null host callback
  bool record_calls = true;   // keep every host call (not shared safely across threads)
};

class TonevoltRig {
 public:
  explicit TonevoltRig(WBMainProc main, const RigSetup& setup = {})
      : m_clock(setup.host_clock), m_input(kOwnBlock, 0.0f), m_output(kOwnBlock, -1.0f) {
    // The setup is checked by the caller's thread's gtest, not inside workers.
    m_created = m_instance.Create(main, setup.with_callback);
    EXPECT_TRUE(m_created);
    if (!m_created) return;
    m_instance.Host().record_calls = setup.record_calls;
    m_instance.SetSampleRate(setup.rate);
    if (setup.block_size > 0) m_instance.SetBlockSize(setup.block_size);
    m_instance.Host().sample_clock = setup.host_clock;
    m_instance.Open();
  }
  TonevoltRig(WBMainProc main, float rate) : TonevoltRig(main, WithRate(rate)) {}

  bool Created() const { return m_created; }

  // Pin changes at a sample clock.
  void Set(uint32_t at, int32_t pin, int32_t value, int32_t status = STATUS_STATIC) {
    m_instance.AddPinEvent(at, pin, status, value);
  }
  void SetCutoff(uint32_t at, float hz, int32_t status = STATUS_STATIC) {
    m_instance.AddPinFloatEvent(at, kCutoff, status, hz);
  }
  // All four settings at once, as list indices (octave 3 = no shift).
  void SetAll(uint32_t at, float cutoff, int32_t order, int32_t freq_scale,
              int32_t octave = kOctaveIndexNoShift) {
    SetCutoff(at, cutoff);
    Set(at, kOrder, order);
    Set(at, kFreqScale, freq_scale);
    Set(at, kOctave, octave);
  }
  // An event of a type the module ignores: it only occupies the queue.
  void Placeholder(uint32_t at) {
    WbEvent event;
    std::memset(&event, 0, sizeof event);
    event.time_stamp = at;
    event.event_type = 1;
    m_instance.AddEvent(event);
  }

  // Processes a copy of input as one block at offset 0; answers the output
  // (samples the module left alone would read as a NaN of its own).
  std::vector<float> Run(const std::vector<float>& input) {
    std::vector<float> in(input);
    std::vector<float> out(input.size(), FromBits(0x7fbadbadu));
    m_instance.ConnectBuffer(kInput, in.data());
    m_instance.ConnectBuffer(kPitch, out.data());
    m_instance.Process(0, static_cast<int32_t>(input.size()));
    m_clock += static_cast<uint32_t>(input.size());
    return out;
  }

  // Processes length samples (up to kOwnBlock) of the rig's own silent input
  // into its own output; answers the sleep requests the block brought.
  int32_t RunSilence(int32_t length) {
    m_instance.ConnectBuffer(kInput, m_input.data());
    m_instance.ConnectBuffer(kPitch, m_output.data());
    int32_t before = m_instance.Host().sleep_requests;
    m_instance.Process(0, length);
    m_clock += static_cast<uint32_t>(length);
    return m_instance.Host().sleep_requests - before;
  }
  const std::vector<float>& Output() const { return m_output; }

  // The output pin's statuses as reported to the host: (status, clock).
  std::vector<std::pair<int32_t, uint32_t>> Reports() {
    std::vector<std::pair<int32_t, uint32_t>> reports;
    for (const wbhost::HostCall& call : Host().CallsWith(HOST_PIN_STATUS)) {
      EXPECT_EQ(call.index, kPitch);
      EXPECT_EQ(call.opt, 0);
      reports.push_back({call.value, call.pointer});
    }
    return reports;
  }

  // Opens again; the host's clock answers where this rig's clock stands.
  void Reopen() {
    m_instance.Host().sample_clock = m_clock;
    m_instance.Open();
  }

  uint32_t Clock() const { return m_clock; }
  wbhost::Instance& Instance() { return m_instance; }
  wbhost::HostState& Host() { return m_instance.Host(); }

  static constexpr int32_t kOwnBlock = 4096;

 private:
  static RigSetup WithRate(float rate) {
    RigSetup setup;
    setup.rate = rate;
    return setup;
  }

  wbhost::Instance m_instance;
  bool m_created = false;
  uint32_t m_clock;
  std::vector<float> m_input, m_output;
};
