// Tonevolt as LV2 plug-ins in one binary. The plain pair runs the module's
// signal path alone, one with a CV output (jalv, modular hosts), one with an
// audio output (hosts that refuse CV ports); the tracker pair runs the same
// path behind the live tracker's conditioning and gate. The module's stage
// equals the 32-bit module's bit for bit: each run() is one piece of the
// module's processing with the settings applied at its first sample, under
// the control state the module runs in, whatever the host thread's state.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "FpuControl.h"
#include "Lv2Ports.h"
#include "TonevoltCore.h"
#include "conditioning/LiveReading.h"
#include "conditioning/LiveTracker.h"

namespace {

// The largest piece the core takes in one call.
constexpr uint32_t kMaxPiece = 1u << 30;
// The tracker's conditioned samples wait in a buffer of this many between
// the tracker and the core; longer host blocks go in pieces.
constexpr uint32_t kConditionedPiece = 2048;

// Control values as the module's pins take them. Hosts may pass anything:
// a NaN takes the port's default, an infinity or other value out of range
// its nearest bound, and a list value the nearest entry (halves away from
// zero).
float ClampedOr(const float* port, float low, float high, float fallback) {
  if (port == nullptr || std::isnan(*port)) return fallback;
  return std::min(std::max(*port, low), high);
}

int32_t NearestWhole(const float* port, int32_t low, int32_t high, int32_t fallback) {
  if (port == nullptr || std::isnan(*port)) return fallback;
  const float value = *port;
  if (value <= static_cast<float>(low)) return low;
  if (value >= static_cast<float>(high)) return high;
  return static_cast<int32_t>(std::lround(value));
}

// 0 (off), or the lowest note the tracker is designed for.
double LowestFromPort(const float* port) {
  const float hz = ClampedOr(port, kLowestOffHz, kLowestMaxHz, kLowestDefaultHz);
  if (hz <= kLowestOffHz) return 0;
  return std::max(static_cast<double>(hz), tonevolt::LiveTracker::kLowestHz);
}

// LV2's toggles: above zero is on.
bool ToggleFromPort(const float* port, bool fallback) {
  if (port == nullptr || std::isnan(*port)) return fallback;
  return *port > 0.0f;
}

// The module's floating-point state while in scope, the host thread's given
// back after: even reading a control must not trap on an exception the
// host unmasked, and designs must not round as the host's thread does.
class ModuleWords {
 public:
  ModuleWords() : m_host(ReadFpuControlWords()) { LoadFpuControlWords(kDefaultFpuControlWords); }
  ~ModuleWords() { LoadFpuControlWords(m_host); }
  ModuleWords(const ModuleWords&) = delete;
  ModuleWords& operator=(const ModuleWords&) = delete;

 private:
  const FpuControlWords m_host;
};

// The module's stage, in every plug-in: its core and its four settings ports.
class ModuleStage {
 public:
  // The defaults, for a port without a number (NaN): cutoff in Hz, order
  // as the module's list index.
  ModuleStage(float sample_rate, float cutoff_default, int32_t order_default)
      : m_sample_rate(sample_rate),
        m_cutoff_default(cutoff_default),
        m_order_default(order_default) {
    OpenCore();
  }

  // The settings ports; false for any other.
  bool Connect(uint32_t port, void* data) {
    const float* value = static_cast<const float*>(data);
    switch (port) {
      case kPortCutoff:
        m_cutoff = value;
        return true;
      case kPortOctave:
        m_octave = value;
        return true;
      case kPortScale:
        m_scale = value;
        return true;
      case kPortOrder:
        m_order = value;
        return true;
      default:
        return false;
    }
  }

  // Starts from silence, as a freshly opened module does. Not real-time:
  // a used core is replaced and its table built again.
  void Activate() {
    if (!m_has_run) return;
    m_core = TonevoltCore();
    OpenCore();
  }

  // In kDefaultFpuControlWords: gives the core the controls' values from
  // the next sample on. Answers the words its Process runs in.
  FpuControlWords ApplyControls() {
    m_has_run = true;
    m_core.SetCutoff(ClampedOr(m_cutoff, kCutoffMinHz, kCutoffMaxHz, m_cutoff_default));
    m_core.SetOctaveIndex(OctaveIndexOfShift(
        NearestWhole(m_octave, kOctaveMin, kOctaveMax, OctaveShiftOfIndex(kOctaveDefaultIndex))));
    m_core.SetFreqScale(
        NearestWhole(m_scale, kScaleVoltPerKhz, kScaleVoltPerOctave, kScaleDefault));
    m_core.SetFilterOrder(OrderIndexOfPoles(NearestWhole(m_order, OrderPolesOfIndex(kOrderOnePole),
                                                         OrderPolesOfIndex(kOrderTwoPoles),
                                                         OrderPolesOfIndex(m_order_default))));
    // The rounding of the call (FpuControl.h): toward zero for 1 V/oct.
    return CallWords(kDefaultFpuControlWords, m_core.VoltPerOctave());
  }

  bool VoltPerOctave() const { return m_core.VoltPerOctave(); }

  // In the words ApplyControls answered.
  void Process(const float* in, float* out, uint32_t count) {
    for (uint32_t done = 0; done < count;) {
      const uint32_t piece = std::min(count - done, kMaxPiece);
      m_core.Process(in + done, out + done, static_cast<int32_t>(piece));
      done += piece;
    }
  }

 private:
  // The module's open: coefficients and table under the default state.
  void OpenCore() {
    const ModuleWords words;
    m_core.Open(m_sample_rate);
    m_core.BuildPitchTable();
    m_has_run = false;
  }

  const float* m_cutoff = nullptr;
  const float* m_octave = nullptr;
  const float* m_scale = nullptr;
  const float* m_order = nullptr;
  float m_sample_rate;
  float m_cutoff_default;
  int32_t m_order_default;
  bool m_has_run = false;  // since the core was opened
  TonevoltCore m_core;
};

// The module alone.
class Plugin {
 public:
  explicit Plugin(float sample_rate) : m_module(sample_rate, kCutoffDefaultHz, kOrderDefault) {}

  void Connect(uint32_t port, void* data) {
    if (m_module.Connect(port, data)) return;
    if (port == kPortInput) m_input = static_cast<const float*>(data);
    if (port == kPortPitch) m_pitch = static_cast<float*>(data);
  }

  void Activate() { m_module.Activate(); }

  void Run(uint32_t sample_count) {
    // No sample, no pin change to observe: the state stays as it is.
    if (sample_count == 0 || m_input == nullptr || m_pitch == nullptr) return;
    const ModuleWords words;
    LoadFpuControlWords(m_module.ApplyControls());
    m_module.Process(m_input, m_pitch, sample_count);
  }

 private:
  const float* m_input = nullptr;
  float* m_pitch = nullptr;
  ModuleStage m_module;
};

// The URIDs a time:Position is read with, when the host maps URIs.
struct PositionUrids {
  bool mapped = false;
  LV2_URID sequence = 0, object = 0, blank = 0, position = 0, frame = 0, speed = 0;
  LV2_URID atom_long = 0, atom_int = 0, atom_float = 0, atom_double = 0;

  void Map(const LV2_Feature* const* features) {
    const LV2_URID_Map* map = nullptr;
    for (size_t i = 0; features != nullptr && features[i] != nullptr; ++i) {
      if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
        map = static_cast<const LV2_URID_Map*>(features[i]->data);
    }
    if (map == nullptr) return;
    auto urid = [map](const char* uri) { return map->map(map->handle, uri); };
    sequence = urid(LV2_ATOM__Sequence);
    object = urid(LV2_ATOM__Object);
    blank = urid(LV2_ATOM__Blank);
    position = urid(LV2_TIME__Position);
    frame = urid(LV2_TIME__frame);
    speed = urid(LV2_TIME__speed);
    atom_long = urid(LV2_ATOM__Long);
    atom_int = urid(LV2_ATOM__Int);
    atom_float = urid(LV2_ATOM__Float);
    atom_double = urid(LV2_ATOM__Double);
    mapped = true;
  }

  // A number atom's value; false for any other atom.
  bool Number(const LV2_Atom* atom, double* value) const {
    if (atom == nullptr) return false;
    if (atom->type == atom_long && atom->size >= sizeof(int64_t)) {
      *value = static_cast<double>(reinterpret_cast<const LV2_Atom_Long*>(atom)->body);
    } else if (atom->type == atom_int && atom->size >= sizeof(int32_t)) {
      *value = reinterpret_cast<const LV2_Atom_Int*>(atom)->body;
    } else if (atom->type == atom_float && atom->size >= sizeof(float)) {
      *value = reinterpret_cast<const LV2_Atom_Float*>(atom)->body;
    } else if (atom->type == atom_double && atom->size >= sizeof(double)) {
      *value = reinterpret_cast<const LV2_Atom_Double*>(atom)->body;
    } else {
      return false;
    }
    return std::isfinite(*value);
  }

  // The timeline sample of a time:Position while the transport plays at
  // its own speed (a position without a speed is taken as playing); false
  // for anything else, a stopped or varispeed transport included, where
  // the timeline does not advance one sample a sample.
  bool PlayingFrame(const LV2_Atom* atom, int64_t* frame_out) const {
    if (atom->type != object && atom->type != blank) return false;
    const LV2_Atom_Object* body = reinterpret_cast<const LV2_Atom_Object*>(atom);
    if (body->body.otype != position) return false;
    const LV2_Atom* frame_atom = nullptr;
    const LV2_Atom* speed_atom = nullptr;
    lv2_atom_object_get(body, frame, &frame_atom, speed, &speed_atom, 0);
    double frame_value = 0, speed_value = 1;
    if (!Number(frame_atom, &frame_value)) return false;
    if (speed_atom != nullptr && (!Number(speed_atom, &speed_value) || speed_value != 1))
      return false;
    *frame_out = static_cast<int64_t>(frame_value);
    return true;
  }
};

// The live tracker's conditioning and gate ahead of the module, and the
// hold after it. The tracker runs in the module's default state, the core
// in its call's; `lowest` needs new designs and so is read at activate().
class TrackerPlugin {
 public:
  explicit TrackerPlugin(float sample_rate)
      : m_module(sample_rate, kTrackerCutoffDefaultHz, kTrackerOrderDefault),
        m_sample_rate(sample_rate),
        m_conditioned(new (std::nothrow) float[kConditionedPiece]),
        m_gate_piece(new (std::nothrow) float[kConditionedPiece]),
        m_note_hz_piece(new (std::nothrow) float[kConditionedPiece]) {
    Design(kLowestDefaultHz);
  }

  bool Ready() const {
    return m_conditioned != nullptr && m_gate_piece != nullptr && m_note_hz_piece != nullptr;
  }

  void Connect(uint32_t port, void* data) {
    if (m_module.Connect(port, data)) return;
    switch (port) {
      case kPortInput:
        m_input = static_cast<const float*>(data);
        break;
      case kPortPitch:
        m_pitch = static_cast<float*>(data);
        break;
      case kPortLowest:
        m_lowest = static_cast<const float*>(data);
        break;
      case kPortGate:
        m_gate = static_cast<float*>(data);
        break;
      case kPortThreshold:
        m_threshold = static_cast<const float*>(data);
        break;
      case kPortHold:
        m_hold = static_cast<const float*>(data);
        break;
      case kPortLatency:
        m_latency = static_cast<float*>(data);
        break;
      case kPortPosition:
        m_position = static_cast<const LV2_Atom_Sequence*>(data);
        break;
      default:
        break;
    }
  }

  // From silence, with the tracker designed for `lowest` as it reads now.
  void Activate() {
    m_module.Activate();
    const double lowest = LowestFromPort(m_lowest);
    m_on = lowest > 0;
    if (m_on && lowest != m_designed_lowest) {
      Design(lowest);
    } else if (m_tracker_has_run) {
      const ModuleWords words;
      m_tracker->Reset();
      m_tracker_has_run = false;
    }
    m_note_hold->Reset();
  }

  void Run(uint32_t sample_count) {
    if (m_latency != nullptr)
      *m_latency = static_cast<float>(tonevolt::LiveTracker::kLatencySamples);
    if (sample_count == 0 || m_input == nullptr || m_pitch == nullptr) return;
    const ModuleWords words;
    const FpuControlWords call_words = m_module.ApplyControls();
    if (!m_on) {
      LoadFpuControlWords(call_words);
      m_module.Process(m_input, m_pitch, sample_count);
      if (m_gate != nullptr) std::fill(m_gate, m_gate + sample_count, 0.0f);
      return;
    }
    m_tracker->SetThreshold(
        ClampedOr(m_threshold, kThresholdMinDb, kThresholdMaxDb, kThresholdDefaultDb));
    const bool hold = ToggleFromPort(m_hold, kHoldDefault != 0);
    m_tracker_has_run = true;
    // Each position puts the tracker's frames on the timeline from its
    // event's sample on.
    uint32_t done = 0;
    if (m_position != nullptr && m_urids.mapped && m_position->atom.type == m_urids.sequence) {
      LV2_ATOM_SEQUENCE_FOREACH(m_position, event) {
        int64_t frame = 0;
        if (!m_urids.PlayingFrame(&event->body, &frame)) continue;
        const uint32_t at = static_cast<uint32_t>(
            std::clamp<int64_t>(event->time.frames, done, static_cast<int64_t>(sample_count)));
        RunTracked(done, at, hold, call_words);
        done = at;
        LoadFpuControlWords(kDefaultFpuControlWords);
        m_tracker->Align(frame);
      }
    }
    RunTracked(done, sample_count, hold, call_words);
  }

  void MapUrids(const LV2_Feature* const* features) { m_urids.Map(features); }

 private:
  // Samples [from, to) of this run() through tracker, module, rate step and
  // hold, in pieces of the conditioned buffer.
  void RunTracked(uint32_t from, uint32_t to, bool hold, const FpuControlWords& call_words) {
    for (uint32_t done = from; done < to;) {
      const uint32_t piece = std::min(to - done, kConditionedPiece);
      // The input is read here before any output of this piece is written,
      // so outputs may share the input's buffer.
      LoadFpuControlWords(kDefaultFpuControlWords);
      m_tracker->Process(m_input + done, m_conditioned.get(), m_gate_piece.get(), piece,
                         m_note_hz_piece.get());
      LoadFpuControlWords(call_words);
      m_module.Process(m_conditioned.get(), m_pitch + done, piece);
      m_rate_step.Process(m_pitch + done, piece, m_module.VoltPerOctave());
      // The hold's mean rounds as the tool's does: to nearest.
      LoadFpuControlWords(kDefaultFpuControlWords);
      m_note_hold->Process(m_pitch + done, m_gate_piece.get(), m_note_hz_piece.get(), piece, hold);
      if (m_gate != nullptr) std::copy_n(m_gate_piece.get(), piece, m_gate + done);
      done += piece;
    }
  }

  // Not real-time: every band the tracker may steer to is designed here.
  void Design(double lowest_hz) {
    const ModuleWords words;
    tonevolt::LiveOptions options;
    options.lowest_hz = lowest_hz;
    m_tracker.reset(new tonevolt::LiveTracker(m_sample_rate, options));
    m_note_hold.reset(new tonevolt::NoteHold(m_tracker->CloseDelaySamples(), m_sample_rate));
    m_designed_lowest = lowest_hz;
    m_tracker_has_run = false;
  }

  const float* m_input = nullptr;
  float* m_pitch = nullptr;
  const float* m_lowest = nullptr;
  float* m_gate = nullptr;
  const float* m_threshold = nullptr;
  const float* m_hold = nullptr;
  float* m_latency = nullptr;
  const LV2_Atom_Sequence* m_position = nullptr;
  PositionUrids m_urids;
  ModuleStage m_module;
  double m_sample_rate;
  tonevolt::RateStep m_rate_step{m_sample_rate};
  std::unique_ptr<tonevolt::LiveTracker> m_tracker;
  std::unique_ptr<tonevolt::NoteHold> m_note_hold;  // following the tracker's gate
  double m_designed_lowest = 0;
  bool m_tracker_has_run = false;  // since designed or reset
  bool m_on = true;                // `lowest` above 0 at activate()
  std::unique_ptr<float[]> m_conditioned, m_gate_piece, m_note_hz_piece;
};

template <class PluginType>
LV2_Handle Instantiate(const LV2_Descriptor*, double sample_rate, const char*,
                       const LV2_Feature* const*) {
  return new (std::nothrow) PluginType(static_cast<float>(sample_rate));
}

template <>
LV2_Handle Instantiate<TrackerPlugin>(const LV2_Descriptor*, double sample_rate, const char*,
                                      const LV2_Feature* const* features) {
  TrackerPlugin* plugin = new (std::nothrow) TrackerPlugin(static_cast<float>(sample_rate));
  if (plugin != nullptr && !plugin->Ready()) {
    delete plugin;
    return nullptr;
  }
  if (plugin != nullptr) plugin->MapUrids(features);
  return plugin;
}

template <class PluginType>
void ConnectPort(LV2_Handle instance, uint32_t port, void* data) {
  static_cast<PluginType*>(instance)->Connect(port, data);
}

template <class PluginType>
void Activate(LV2_Handle instance) {
  static_cast<PluginType*>(instance)->Activate();
}

template <class PluginType>
void Run(LV2_Handle instance, uint32_t sample_count) {
  static_cast<PluginType*>(instance)->Run(sample_count);
}

void Deactivate(LV2_Handle) {}

template <class PluginType>
void Cleanup(LV2_Handle instance) {
  delete static_cast<PluginType*>(instance);
}

const void* ExtensionData(const char*) { return nullptr; }

template <class PluginType>
constexpr LV2_Descriptor DescriptorOf(const char* uri) {
  return {uri,
          Instantiate<PluginType>,
          ConnectPort<PluginType>,
          Activate<PluginType>,
          Run<PluginType>,
          Deactivate,
          Cleanup<PluginType>,
          ExtensionData};
}

const LV2_Descriptor kDescriptors[] = {
    DescriptorOf<Plugin>(kCvUri),
    DescriptorOf<Plugin>(kAudioUri),
    DescriptorOf<TrackerPlugin>(kTrackerCvUri),
    DescriptorOf<TrackerPlugin>(kTrackerAudioUri),
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index < sizeof kDescriptors / sizeof kDescriptors[0] ? &kDescriptors[index] : nullptr;
}
