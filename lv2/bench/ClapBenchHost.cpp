#include "ClapBenchHost.h"

#include <clap/entry.h>
#include <clap/ext/params.h>
#include <clap/plugin-factory.h>
#include <dlfcn.h>

#include "BenchSignal.h"
#include "plugin/Identity.h"

namespace {

const clap_plugin_entry_t* g_entry = nullptr;

const void* NoExtension(const clap_host_t*, const char*) { return nullptr; }
void IgnoreRequest(const clap_host_t*) {}

const clap_host_t kHost = {
    CLAP_VERSION_INIT, nullptr,       "Tonevolt bench", "Tonevolt developers", "", "1",
    NoExtension,       IgnoreRequest, IgnoreRequest,    IgnoreRequest};

// Input events: parameter values, none once the settings are in.
struct Values {
  const clap_event_param_value_t* values;
  uint32_t count;
};
uint32_t ValuesSize(const clap_input_events_t* list) {
  return static_cast<const Values*>(list->ctx)->count;
}
const clap_event_header_t* ValuesGet(const clap_input_events_t* list, uint32_t index) {
  const Values* values = static_cast<const Values*>(list->ctx);
  return index < values->count ? &values->values[index].header : nullptr;
}
Values g_no_values = {nullptr, 0};
const clap_input_events_t kNoEvents = {&g_no_values, ValuesSize, ValuesGet};

bool Discard(const clap_output_events_t*, const clap_event_header_t*) { return true; }
const clap_output_events_t kDiscard = {nullptr, Discard};

const char* ClapId(bool tracker) {
  for (const tonevolt::PluginIdentity& identity : tonevolt::kPluginIdentities) {
    if (identity.tracker == tracker) return identity.clap_id;
  }
  return nullptr;
}

}  // namespace

bool LoadClapPlugins(const char* path) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library != nullptr)
    g_entry = static_cast<const clap_plugin_entry_t*>(dlsym(library, "clap_entry"));
  return g_entry != nullptr && g_entry->init(path);
}

ClapBenchHost::ClapBenchHost(bool tracker, const BenchSettings& settings)
    : m_outputs(tracker ? 2 : 1) {
  const auto* factory =
      static_cast<const clap_plugin_factory_t*>(g_entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
  m_plugin =
      factory != nullptr ? factory->create_plugin(factory, &kHost, ClapId(tracker)) : nullptr;
  if (m_plugin == nullptr || !m_plugin->init(m_plugin)) return;
  clap_event_param_value_t values[kBenchSettingCount];
  for (size_t i = 0; i < kBenchSettingCount; ++i) {
    values[i] = {{sizeof values[i], 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0},
                 settings[i].id,
                 nullptr,
                 -1,
                 -1,
                 -1,
                 -1,
                 settings[i].value};
  }
  Values list = {values, kBenchSettingCount};
  const clap_input_events_t events = {&list, ValuesSize, ValuesGet};
  const auto* params =
      static_cast<const clap_plugin_params_t*>(m_plugin->get_extension(m_plugin, CLAP_EXT_PARAMS));
  if (params == nullptr) return;
  params->flush(m_plugin, &events, &kDiscard);
  m_active = m_plugin->activate(m_plugin, kBenchRate, 1, kBenchBlock);
  m_processing = m_active && m_plugin->start_processing(m_plugin);
}

ClapBenchHost::~ClapBenchHost() {
  if (m_processing) m_plugin->stop_processing(m_plugin);
  if (m_active) m_plugin->deactivate(m_plugin);
  if (m_plugin != nullptr) m_plugin->destroy(m_plugin);
}

void ClapBenchHost::Process(const float* in, float* pitch, float* gate) {
  float* in_channels[1] = {const_cast<float*>(in)};
  float* pitch_channels[1] = {pitch};
  float* gate_channels[1] = {gate};
  const clap_audio_buffer_t inputs[1] = {{in_channels, nullptr, 1, 0, 0}};
  clap_audio_buffer_t outputs[2] = {{pitch_channels, nullptr, 1, 0, 0},
                                    {gate_channels, nullptr, 1, 0, 0}};
  const clap_process_t process = {m_steady_time, kBenchBlock, nullptr,  inputs, outputs, 1,
                                  m_outputs,     &kNoEvents,  &kDiscard};
  m_plugin->process(m_plugin, &process);
  m_steady_time += kBenchBlock;
}
