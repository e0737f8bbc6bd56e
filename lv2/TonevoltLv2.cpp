// Tonevolt as LV2 plug-ins in one binary. The plain pair runs the module's
// signal path alone, one with a CV output (jalv, modular hosts), one with an
// audio output (hosts that refuse CV ports); the tracker pair runs the same
// path behind the live tracker's conditioning and gate. The engine
// (plugin/Engine.h) does the work; this reads the ports into it once a
// run(), the settings applying at its first sample.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "Lv2Ports.h"
#include "plugin/Engine.h"

namespace {

using tonevolt::ControlId;

// A control port's value as the engine takes it; an unconnected port reads
// as NaN, which takes the default.
float ValueOf(const float* port) {
  return port != nullptr ? *port : std::numeric_limits<float>::quiet_NaN();
}

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

// Every plug-in: the engine and the ports. The plain pair has ports 0 to 5.
class Plugin {
 public:
  Plugin(float sample_rate, bool tracker) : m_engine(sample_rate, tracker) {}

  bool Ready() const { return m_engine.Ready(); }

  void Connect(uint32_t port, void* data) {
    if (port < kTrackerPortCount) m_ports[port] = data;
  }

  void Activate() {
    if (m_engine.Tracker()) m_engine.Set(tonevolt::kControlLowest, Control(kPortLowest));
    m_engine.Activate();
  }

  void Run(uint32_t sample_count) {
    float* latency = static_cast<float*>(m_ports[kPortLatency]);
    if (m_engine.Tracker() && latency != nullptr)
      *latency = static_cast<float>(tonevolt::PluginEngine::kLatencySamples);
    const float* input = static_cast<const float*>(m_ports[kPortInput]);
    float* pitch = static_cast<float*>(m_ports[kPortPitch]);
    if (sample_count == 0 || input == nullptr || pitch == nullptr) return;
    m_engine.Set(tonevolt::kControlCutoff, Control(kPortCutoff));
    m_engine.Set(tonevolt::kControlOctave, Control(kPortOctave));
    m_engine.Set(tonevolt::kControlScale, Control(kPortScale));
    m_engine.Set(tonevolt::kControlOrder, Control(kPortOrder));
    if (!m_engine.Tracker()) {
      m_engine.Process(input, pitch, nullptr, sample_count);
      return;
    }
    m_engine.Set(tonevolt::kControlThreshold, Control(kPortThreshold));
    m_engine.Set(tonevolt::kControlHold, Control(kPortHold));
    float* gate = static_cast<float*>(m_ports[kPortGate]);
    // Each position puts the tracker's frames on the timeline from its
    // event's sample on.
    uint32_t done = 0;
    const auto* position = static_cast<const LV2_Atom_Sequence*>(m_ports[kPortPosition]);
    if (position != nullptr && m_urids.mapped && position->atom.type == m_urids.sequence) {
      LV2_ATOM_SEQUENCE_FOREACH(position, event) {
        int64_t frame = 0;
        if (!m_urids.PlayingFrame(&event->body, &frame)) continue;
        const uint32_t at = static_cast<uint32_t>(
            std::clamp<int64_t>(event->time.frames, done, static_cast<int64_t>(sample_count)));
        m_engine.Process(input + done, pitch + done, gate != nullptr ? gate + done : nullptr,
                         at - done);
        done = at;
        m_engine.Align(frame);
      }
    }
    m_engine.Process(input + done, pitch + done, gate != nullptr ? gate + done : nullptr,
                     sample_count - done);
  }

  void MapUrids(const LV2_Feature* const* features) { m_urids.Map(features); }

 private:
  float Control(PortIndex port) const { return ValueOf(static_cast<const float*>(m_ports[port])); }

  void* m_ports[kTrackerPortCount] = {};
  PositionUrids m_urids;
  tonevolt::PluginEngine m_engine;
};

template <bool kTracker>
LV2_Handle Instantiate(const LV2_Descriptor*, double sample_rate, const char*,
                       const LV2_Feature* const* features) {
  Plugin* plugin = new (std::nothrow) Plugin(static_cast<float>(sample_rate), kTracker);
  if (plugin != nullptr && !plugin->Ready()) {
    delete plugin;
    return nullptr;
  }
  if (plugin != nullptr) plugin->MapUrids(features);
  return plugin;
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

template <bool kTracker>
constexpr LV2_Descriptor DescriptorOf(const char* uri) {
  return {uri,     Instantiate<kTracker>, ConnectPort, Activate, Run, Deactivate,
          Cleanup, ExtensionData};
}

const LV2_Descriptor kDescriptors[] = {
    DescriptorOf<false>(kCvUri),
    DescriptorOf<false>(kAudioUri),
    DescriptorOf<true>(kTrackerCvUri),
    DescriptorOf<true>(kTrackerAudioUri),
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index < sizeof kDescriptors / sizeof kDescriptors[0] ? &kDescriptors[index] : nullptr;
}
