// Tonevolt as two LV2 plug-ins in one binary: the same signal path and
// ports, one with a CV output (jalv, modular hosts), one with an audio
// output (hosts that refuse CV ports). The output equals the 32-bit module's
// bit for bit: each run() is one piece of the module's processing with the
// settings applied at its first sample, under the control state the module
// runs in, whatever the host thread's state.
#include <lv2/core/lv2.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>

#include "FpuControl.h"
#include "Lv2Ports.h"
#include "TonevoltCore.h"

namespace {

// The largest piece the core takes in one call.
constexpr uint32_t kMaxPiece = 1u << 30;

// Control values as the module's pins take them. Hosts may pass anything:
// a NaN takes the port's default, an infinity or other value out of range
// its nearest bound, and a list value the nearest entry (halves away from
// zero).
float CutoffFromPort(const float* port) {
  if (port == nullptr || std::isnan(*port)) return kCutoffDefaultHz;
  return std::min(std::max(*port, kCutoffMinHz), kCutoffMaxHz);
}

int32_t NearestWhole(const float* port, int32_t low, int32_t high, int32_t fallback) {
  if (port == nullptr || std::isnan(*port)) return fallback;
  const float value = *port;
  if (value <= static_cast<float>(low)) return low;
  if (value >= static_cast<float>(high)) return high;
  return static_cast<int32_t>(std::lround(value));
}

class Plugin {
 public:
  explicit Plugin(float sample_rate) : m_sample_rate(sample_rate) { OpenCore(); }

  void Connect(uint32_t port, void* data) {
    switch (port) {
      case kPortInput:
        m_input = static_cast<const float*>(data);
        break;
      case kPortPitch:
        m_pitch = static_cast<float*>(data);
        break;
      case kPortCutoff:
        m_cutoff = static_cast<const float*>(data);
        break;
      case kPortOctave:
        m_octave = static_cast<const float*>(data);
        break;
      case kPortScale:
        m_scale = static_cast<const float*>(data);
        break;
      case kPortOrder:
        m_order = static_cast<const float*>(data);
        break;
      default:
        break;
    }
  }

  // Starts from silence, as a freshly opened module does. Not real-time:
  // a used core is replaced and its table built again.
  void Activate() {
    if (!m_has_run) return;
    m_core = TonevoltCore();
    OpenCore();
  }

  void Run(uint32_t sample_count) {
    // No sample, no pin change to observe: the state stays as it is.
    if (sample_count == 0 || m_input == nullptr || m_pitch == nullptr) return;
    // Everything from here runs in the module's state, whatever the host's:
    // even reading a control must not trap on an exception the host unmasked.
    const FpuControlWords host_words = ReadFpuControlWords();
    LoadFpuControlWords(kDefaultFpuControlWords);
    m_has_run = true;

    m_core.SetCutoff(CutoffFromPort(m_cutoff));
    m_core.SetOctaveIndex(
        NearestWhole(m_octave, kOctaveMin, kOctaveMax, OctavePortValue(kOctaveDefaultIndex)) -
        OctavePortValue(0));
    m_core.SetFreqScale(
        NearestWhole(m_scale, kScaleVoltPerKhz, kScaleVoltPerOctave, kScaleDefault));
    // The port counts poles, the module's list from 0.
    m_core.SetFilterOrder(NearestWhole(m_order, OrderPortValue(kOrderOnePole),
                                       OrderPortValue(kOrderTwoPoles),
                                       OrderPortValue(kOrderDefault)) -
                          OrderPortValue(0));

    // The rounding of the call (FpuControl.h): toward zero for 1 V/oct.
    LoadFpuControlWords(CallWords(kDefaultFpuControlWords, m_core.VoltPerOctave()));
    for (uint32_t done = 0; done < sample_count;) {
      const uint32_t piece = std::min(sample_count - done, kMaxPiece);
      m_core.Process(m_input + done, m_pitch + done, static_cast<int32_t>(piece));
      done += piece;
    }
    LoadFpuControlWords(host_words);
  }

 private:
  // The module's open: coefficients and table under the default state.
  void OpenCore() {
    const FpuControlWords host_words = ReadFpuControlWords();
    LoadFpuControlWords(kDefaultFpuControlWords);
    m_core.Open(m_sample_rate);
    m_core.BuildPitchTable();
    LoadFpuControlWords(host_words);
    m_has_run = false;
  }

  const float* m_input = nullptr;
  float* m_pitch = nullptr;
  const float* m_cutoff = nullptr;
  const float* m_octave = nullptr;
  const float* m_scale = nullptr;
  const float* m_order = nullptr;
  float m_sample_rate;
  bool m_has_run = false;  // since the core was opened
  TonevoltCore m_core;
};

LV2_Handle Instantiate(const LV2_Descriptor*, double sample_rate, const char*,
                       const LV2_Feature* const*) {
  return new (std::nothrow) Plugin(static_cast<float>(sample_rate));
}

void ConnectPort(LV2_Handle instance, uint32_t port, void* data) {
  static_cast<Plugin*>(instance)->Connect(port, data);
}

void Activate(LV2_Handle instance) { static_cast<Plugin*>(instance)->Activate(); }

void Run(LV2_Handle instance, uint32_t sample_count) {
  static_cast<Plugin*>(instance)->Run(sample_count);
}

void Deactivate(LV2_Handle) {}

void Cleanup(LV2_Handle instance) { delete static_cast<Plugin*>(instance); }

const void* ExtensionData(const char*) { return nullptr; }

const LV2_Descriptor kDescriptors[] = {
    {kCvUri, Instantiate, ConnectPort, Activate, Run, Deactivate, Cleanup, ExtensionData},
    {kAudioUri, Instantiate, ConnectPort, Activate, Run, Deactivate, Cleanup, ExtensionData},
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index < sizeof kDescriptors / sizeof kDescriptors[0] ? &kDescriptors[index] : nullptr;
}
