// Tonevolt as CLAP plug-ins in one file: the plain plug-in runs the module's
// signal path alone, the tracker the same path behind the live tracker's
// conditioning and gate. The engine (plugin/Engine.h) does the work; this
// hands it the host's settings at their samples, its buffers and its state.
#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "FpuControl.h"
#include "plugin/Engine.h"
#include "plugin/Identity.h"

namespace {

using tonevolt::ControlId;
using tonevolt::PluginEngine;
using tonevolt::PluginIdentity;

constexpr uint32_t kIdentityCount = sizeof tonevolt::kPluginIdentities / sizeof(PluginIdentity);

// Settings and saved state need an engine before the host gives its rate;
// activation at another rate replaces it.
constexpr double kRateBeforeActivation = 48000;

// Output port ids; the input is port 0.
constexpr clap_id kPitchPort = 0;
constexpr clap_id kGatePort = 1;

class Plugin {
 public:
  Plugin(const clap_plugin_descriptor_t* descriptor, const PluginIdentity& identity,
         const clap_host_t* host);

  const clap_plugin_t* Clap() const { return &m_clap; }
  static Plugin* Of(const clap_plugin_t* plugin) {
    return static_cast<Plugin*>(plugin->plugin_data);
  }

  bool Init();
  bool Activate(double sample_rate);
  void Deactivate() { m_active = false; }
  clap_process_status Process(const clap_process_t* process);
  void Flush(const clap_input_events_t* events);

  bool Tracker() const { return m_identity.tracker; }
  uint32_t ControlCount() const { return tonevolt::ControlCount(Tracker()); }
  bool HasControl(clap_id id) const { return id < ControlCount(); }
  double Value(clap_id id) const { return m_engine->Get(static_cast<ControlId>(id)); }

  bool SaveState(const clap_ostream_t* stream) const;
  bool LoadState(const clap_istream_t* stream);

 private:
  void Apply(const clap_event_header_t* event);
  void RestartIfLowestChanged(float lowest_before);

  clap_plugin_t m_clap;
  const PluginIdentity& m_identity;
  const clap_host_t* m_host;
  const clap_host_params_t* m_host_params = nullptr;
  std::unique_ptr<PluginEngine> m_engine;
  double m_engine_rate = 0;
  bool m_active = false;
};

bool Plugin::Init() {
  m_host_params =
      static_cast<const clap_host_params_t*>(m_host->get_extension(m_host, CLAP_EXT_PARAMS));
  m_engine.reset(new (std::nothrow) PluginEngine(kRateBeforeActivation, Tracker()));
  m_engine_rate = kRateBeforeActivation;
  return m_engine && m_engine->Ready();
}

// Not real-time: a new rate means a new engine, designed for it, which
// takes the settings over.
bool Plugin::Activate(double sample_rate) {
  if (!(sample_rate > 0) || !std::isfinite(sample_rate)) return false;
  if (sample_rate != m_engine_rate) {
    std::unique_ptr<PluginEngine> engine = m_engine->AtRate(static_cast<float>(sample_rate));
    if (!engine) return false;
    m_engine = std::move(engine);
    m_engine_rate = sample_rate;
  }
  m_engine->Activate();
  if (!m_engine->Ready()) return false;
  m_active = true;
  return true;
}

// `lowest` applies at activation: while active, the host is asked for one.
void Plugin::RestartIfLowestChanged(float lowest_before) {
  if (m_active && Tracker() && m_engine->Get(tonevolt::kControlLowest) != lowest_before &&
      m_host->request_restart != nullptr)
    m_host->request_restart(m_host);
}

void Plugin::Apply(const clap_event_header_t* event) {
  if (event == nullptr || event->space_id != CLAP_CORE_EVENT_SPACE_ID ||
      event->type != CLAP_EVENT_PARAM_VALUE || event->size < sizeof(clap_event_param_value_t))
    return;
  const auto* change = reinterpret_cast<const clap_event_param_value_t*>(event);
  if (!HasControl(change->param_id)) return;
  const ControlId id = static_cast<ControlId>(change->param_id);
  const float lowest_before = m_engine->Get(tonevolt::kControlLowest);
  m_engine->Set(id, static_cast<float>(change->value));
  if (id == tonevolt::kControlLowest) RestartIfLowestChanged(lowest_before);
}

void Plugin::Flush(const clap_input_events_t* events) {
  if (events == nullptr) return;
  const DefaultFpuScope fp_state;
  const uint32_t count = events->size(events);
  for (uint32_t i = 0; i < count; ++i) Apply(events->get(events, i));
}

// The first channel of a port's 32-bit buffer, or null.
float* Channel(const clap_audio_buffer_t* ports, uint32_t port_count, uint32_t port) {
  if (ports == nullptr || port >= port_count) return nullptr;
  const clap_audio_buffer_t& buffer = ports[port];
  if (buffer.data32 == nullptr || buffer.channel_count < 1) return nullptr;
  return buffer.data32[0];
}

// Each setting applies from its event's sample: the block is run in pieces
// between them. Events past the block apply at its end.
clap_process_status Plugin::Process(const clap_process_t* process) {
  const DefaultFpuScope fp_state;
  // While the transport plays, the tracker's frames are put on the
  // timeline, so that a render does not depend on what ran before it.
  const clap_event_transport_t* transport = process->transport;
  constexpr uint32_t kPlayingOnTimeline =
      CLAP_TRANSPORT_IS_PLAYING | CLAP_TRANSPORT_HAS_SECONDS_TIMELINE;
  if (transport != nullptr && (transport->flags & kPlayingOnTimeline) == kPlayingOnTimeline)
    m_engine->Align(std::llround(static_cast<double>(transport->song_pos_seconds) /
                                 static_cast<double>(CLAP_SECTIME_FACTOR) * m_engine_rate));
  const uint32_t frames = process->frames_count;
  const float* in = Channel(process->audio_inputs, process->audio_inputs_count, 0);
  float* pitch = Channel(process->audio_outputs, process->audio_outputs_count, kPitchPort);
  float* gate = Tracker() ? Channel(process->audio_outputs, process->audio_outputs_count, kGatePort)
                          : nullptr;
  const bool audio = in != nullptr && pitch != nullptr;
  if (audio) process->audio_outputs[kPitchPort].constant_mask = 0;
  if (gate != nullptr) process->audio_outputs[kGatePort].constant_mask = 0;

  uint32_t done = 0;
  auto run_to = [&](uint32_t end) {
    if (end <= done) return;
    if (audio)
      m_engine->Process(in + done, pitch + done, gate != nullptr ? gate + done : nullptr,
                        end - done);
    done = end;
  };
  const clap_input_events_t* events = process->in_events;
  const uint32_t event_count = events != nullptr ? events->size(events) : 0;
  for (uint32_t i = 0; i < event_count; ++i) {
    const clap_event_header_t* event = events->get(events, i);
    if (event != nullptr) run_to(std::min(event->time, frames));
    Apply(event);
  }
  run_to(frames);
  return audio || frames == 0 ? CLAP_PROCESS_CONTINUE : CLAP_PROCESS_ERROR;
}

bool Plugin::SaveState(const clap_ostream_t* stream) const {
  uint8_t state[PluginEngine::kStateBytes];
  const size_t size = m_engine->SaveState(state, sizeof state);
  for (size_t done = 0; done < size;) {
    const int64_t written = stream->write(stream, state + done, size - done);
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return size > 0;
}

// The engine takes only a state it saved, or refuses it and keeps its
// settings.
bool Plugin::LoadState(const clap_istream_t* stream) {
  uint8_t state[PluginEngine::kStateReadLimit];
  size_t size = 0;
  while (size < sizeof state) {
    const int64_t read = stream->read(stream, state + size, sizeof state - size);
    if (read == 0) break;
    if (read < 0 || static_cast<uint64_t>(read) > sizeof state - size) return false;
    size += static_cast<size_t>(read);
  }
  const float lowest_before = m_engine->Get(tonevolt::kControlLowest);
  if (!m_engine->LoadState(state, size)) return false;
  RestartIfLowestChanged(lowest_before);
  if (m_host_params != nullptr && m_host_params->rescan != nullptr)
    m_host_params->rescan(m_host, CLAP_PARAM_RESCAN_VALUES);
  return true;
}

// The plug-in's callbacks.

bool PluginInit(const clap_plugin_t* plugin) { return Plugin::Of(plugin)->Init(); }

void PluginDestroy(const clap_plugin_t* plugin) { delete Plugin::Of(plugin); }

bool PluginActivate(const clap_plugin_t* plugin, double sample_rate, uint32_t, uint32_t) {
  return Plugin::Of(plugin)->Activate(sample_rate);
}

void PluginDeactivate(const clap_plugin_t* plugin) { Plugin::Of(plugin)->Deactivate(); }

bool PluginStartProcessing(const clap_plugin_t*) { return true; }

void PluginStopProcessing(const clap_plugin_t*) {}

// The engine starts from silence only at activation, which is not
// real-time; a host wanting silence deactivates and activates.
void PluginReset(const clap_plugin_t*) {}

clap_process_status PluginProcess(const clap_plugin_t* plugin, const clap_process_t* process) {
  return process != nullptr ? Plugin::Of(plugin)->Process(process) : CLAP_PROCESS_ERROR;
}

void PluginOnMainThread(const clap_plugin_t*) {}

// Audio ports: mono in, pitch out (which may share the input's buffer)
// and, for the tracker, its gate. 32-bit only.

uint32_t AudioPortsCount(const clap_plugin_t* plugin, bool is_input) {
  return is_input || !Plugin::Of(plugin)->Tracker() ? 1 : 2;
}

bool AudioPortsGet(const clap_plugin_t* plugin, uint32_t index, bool is_input,
                   clap_audio_port_info_t* info) {
  if (info == nullptr || index >= AudioPortsCount(plugin, is_input)) return false;
  const bool main = index == 0;
  info->id = index;
  std::snprintf(info->name, sizeof info->name, "%s", is_input ? "Input" : main ? "Pitch" : "Gate");
  info->flags = main ? CLAP_AUDIO_PORT_IS_MAIN : 0;
  info->channel_count = 1;
  info->port_type = CLAP_PORT_MONO;
  info->in_place_pair = main ? kPitchPort : CLAP_INVALID_ID;
  return true;
}

constexpr clap_plugin_audio_ports_t kAudioPorts = {AudioPortsCount, AudioPortsGet};

// Parameters: the settings' table by stable id.

uint32_t ParamsCount(const clap_plugin_t* plugin) { return Plugin::Of(plugin)->ControlCount(); }

bool ParamsGetInfo(const clap_plugin_t* plugin, uint32_t index, clap_param_info_t* info) {
  const bool tracker = Plugin::Of(plugin)->Tracker();
  if (info == nullptr || index >= tonevolt::ControlCount(tracker)) return false;
  const tonevolt::ControlInfo& control = tonevolt::kControls[index];
  info->id = control.id;
  info->flags = control.Stepped() ? CLAP_PARAM_IS_STEPPED : 0;
  // `lowest` needs new designs, made at activation only.
  if (control.id != tonevolt::kControlLowest) info->flags |= CLAP_PARAM_IS_AUTOMATABLE;
  info->cookie = nullptr;
  std::snprintf(info->name, sizeof info->name, "%s", control.name);
  std::snprintf(info->module, sizeof info->module, "%s",
                control.id == tonevolt::kControlLowest
                    ? "Tracker (applies at the next activation; 0 Hz turns it off)"
                : control.id >= tonevolt::kPlainControlCount ? "Tracker"
                                                             : "");
  info->min_value = control.min;
  info->max_value = control.max;
  info->default_value = control.Default(tracker);
  return true;
}

bool ParamsGetValue(const clap_plugin_t* plugin, clap_id id, double* value) {
  const Plugin* self = Plugin::Of(plugin);
  if (value == nullptr || !self->HasControl(id)) return false;
  *value = self->Value(id);
  return true;
}

// A step's label, or the number and its unit.
bool ParamsValueToText(const clap_plugin_t* plugin, clap_id id, double value, char* text,
                       uint32_t size) {
  if (text == nullptr || size == 0 || !Plugin::Of(plugin)->HasControl(id)) return false;
  const tonevolt::ControlInfo& control = tonevolt::kControls[id];
  if (control.Stepped()) {
    const double step =
        std::round(std::clamp<double>(value, control.min, control.max) - control.min);
    if (std::isnan(step)) return false;
    std::snprintf(text, size, "%s", control.labels[static_cast<int>(step)]);
  } else {
    std::snprintf(text, size, *control.unit != '\0' ? "%.5g %s" : "%.5g", value, control.unit);
  }
  return true;
}

// A step's label or a number (with or without the unit), read the same in
// every locale.
bool ParamsTextToValue(const clap_plugin_t* plugin, clap_id id, const char* text, double* value) {
  if (text == nullptr || value == nullptr || !Plugin::Of(plugin)->HasControl(id)) return false;
  const tonevolt::ControlInfo& control = tonevolt::kControls[id];
  while (*text == ' ') ++text;
  for (int step = 0; control.Stepped() && step <= control.max - control.min; ++step) {
    if (std::strcmp(text, control.labels[step]) == 0) {
      *value = control.min + step;
      return true;
    }
  }
  if (*text == '+') ++text;
  const char* end = text + std::strlen(text);
  double number = 0;
  const std::from_chars_result parsed = std::from_chars(text, end, number);
  if (parsed.ec != std::errc() || !std::isfinite(number)) return false;
  const char* rest = parsed.ptr;
  while (*rest == ' ') ++rest;
  if (*rest != '\0' && std::strcmp(rest, control.unit) != 0) return false;
  *value = std::clamp<double>(number, control.min, control.max);
  return true;
}

void ParamsFlush(const clap_plugin_t* plugin, const clap_input_events_t* in,
                 const clap_output_events_t*) {
  Plugin::Of(plugin)->Flush(in);
}

constexpr clap_plugin_params_t kParams = {ParamsCount,       ParamsGetInfo,     ParamsGetValue,
                                          ParamsValueToText, ParamsTextToValue, ParamsFlush};

uint32_t LatencyGet(const clap_plugin_t*) { return PluginEngine::kLatencySamples; }

constexpr clap_plugin_latency_t kLatency = {LatencyGet};

bool StateSave(const clap_plugin_t* plugin, const clap_ostream_t* stream) {
  return stream != nullptr && Plugin::Of(plugin)->SaveState(stream);
}

bool StateLoad(const clap_plugin_t* plugin, const clap_istream_t* stream) {
  return stream != nullptr && Plugin::Of(plugin)->LoadState(stream);
}

constexpr clap_plugin_state_t kState = {StateSave, StateLoad};

const void* PluginGetExtension(const clap_plugin_t*, const char* id) {
  if (id == nullptr) return nullptr;
  if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) return &kAudioPorts;
  if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) return &kParams;
  if (std::strcmp(id, CLAP_EXT_LATENCY) == 0) return &kLatency;
  if (std::strcmp(id, CLAP_EXT_STATE) == 0) return &kState;
  return nullptr;
}

Plugin::Plugin(const clap_plugin_descriptor_t* descriptor, const PluginIdentity& identity,
               const clap_host_t* host)
    : m_clap{descriptor,
             this,
             PluginInit,
             PluginDestroy,
             PluginActivate,
             PluginDeactivate,
             PluginStartProcessing,
             PluginStopProcessing,
             PluginReset,
             PluginProcess,
             PluginGetExtension,
             PluginOnMainThread},
      m_identity(identity),
      m_host(host) {}

// The factory: one descriptor for each identity.

const char* kFeatures[] = {CLAP_PLUGIN_FEATURE_ANALYZER, CLAP_PLUGIN_FEATURE_UTILITY,
                           CLAP_PLUGIN_FEATURE_MONO, nullptr};

constexpr clap_plugin_descriptor_t DescriptorOf(const PluginIdentity& identity) {
  return {CLAP_VERSION_INIT,    identity.clap_id,
          identity.name,        tonevolt::kVendor,
          tonevolt::kHomepage,  tonevolt::kHomepage,
          tonevolt::kHomepage,  tonevolt::kVersion,
          identity.description, kFeatures};
}

static_assert(kIdentityCount == 2, "the descriptors below list every identity");
const clap_plugin_descriptor_t kDescriptors[kIdentityCount] = {
    DescriptorOf(tonevolt::kPluginIdentities[0]), DescriptorOf(tonevolt::kPluginIdentities[1])};

uint32_t FactoryCount(const clap_plugin_factory_t*) { return kIdentityCount; }

const clap_plugin_descriptor_t* FactoryDescriptor(const clap_plugin_factory_t*, uint32_t index) {
  return index < kIdentityCount ? &kDescriptors[index] : nullptr;
}

const clap_plugin_t* FactoryCreate(const clap_plugin_factory_t*, const clap_host_t* host,
                                   const char* plugin_id) {
  if (host == nullptr || plugin_id == nullptr || !clap_version_is_compatible(host->clap_version))
    return nullptr;
  for (uint32_t i = 0; i < kIdentityCount; ++i) {
    if (std::strcmp(plugin_id, kDescriptors[i].id) != 0) continue;
    Plugin* plugin =
        new (std::nothrow) Plugin(&kDescriptors[i], tonevolt::kPluginIdentities[i], host);
    return plugin != nullptr ? plugin->Clap() : nullptr;
  }
  return nullptr;
}

constexpr clap_plugin_factory_t kFactory = {FactoryCount, FactoryDescriptor, FactoryCreate};

bool EntryInit(const char*) { return true; }

void EntryDeinit() {}

const void* EntryGetFactory(const char* factory_id) {
  return factory_id != nullptr && std::strcmp(factory_id, CLAP_PLUGIN_FACTORY_ID) == 0 ? &kFactory
                                                                                       : nullptr;
}

}  // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION_INIT, EntryInit,
                                                               EntryDeinit, EntryGetFactory};
