#include "Vst3BenchHost.h"

#include <dlfcn.h>

#include "BenchSignal.h"
#include "plugin/Identity.h"
#include "travesty/factory.h"

namespace {

v3_plugin_factory** g_factory = nullptr;

// The host's objects are only lent to the plug-in, for a call.
v3_result V3_API NoInterface(void*, const v3_tuid, void** object) {
  *object = nullptr;
  return V3_NO_INTERFACE;
}
uint32_t V3_API Lent(void*) { return 1; }

// A parameter's one change, at the block's first sample.
struct Change {
  const v3_param_value_queue_cpp* vtable;
  v3_param_id id;
  double normalized;
};
v3_param_id V3_API ChangeId(void* self) { return static_cast<Change*>(self)->id; }
int32_t V3_API OnePoint(void*) { return 1; }
v3_result V3_API GetPoint(void* self, int32_t index, int32_t* offset, double* value) {
  if (index != 0) return V3_INVALID_ARG;
  *offset = 0;
  *value = static_cast<Change*>(self)->normalized;
  return V3_OK;
}
v3_result V3_API AddPoint(void*, int32_t, double, int32_t*) { return V3_NOT_IMPLEMENTED; }
const v3_param_value_queue_cpp kChangeVtable = {{NoInterface, Lent, Lent},
                                                {ChangeId, OnePoint, GetPoint, AddPoint}};

struct Changes {
  const v3_param_changes_cpp* vtable;
  Change* changes;
  int32_t count;
};
int32_t V3_API ChangeCount(void* self) { return static_cast<Changes*>(self)->count; }
v3_param_value_queue** V3_API GetChange(void* self, int32_t index) {
  Changes* changes = static_cast<Changes*>(self);
  if (index < 0 || index >= changes->count) return nullptr;
  return reinterpret_cast<v3_param_value_queue**>(&changes->changes[index]);
}
v3_param_value_queue** V3_API AddChange(void*, v3_param_id*, int32_t*) { return nullptr; }
const v3_param_changes_cpp kChangesVtable = {{NoInterface, Lent, Lent},
                                             {ChangeCount, GetChange, AddChange}};
Changes g_no_changes = {&kChangesVtable, nullptr, 0};

const uint8_t* ClassId(bool tracker) {
  for (const tonevolt::PluginIdentity& identity : tonevolt::kPluginIdentities) {
    if (identity.tracker == tracker) return identity.vst3_class_id;
  }
  return nullptr;
}

}  // namespace

bool LoadVst3Plugins(const char* path) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(library, "ModuleEntry"));
  auto get_factory = reinterpret_cast<void* (*)()>(dlsym(library, "GetPluginFactory"));
  if (entry == nullptr || get_factory == nullptr || !entry(library)) return false;
  g_factory = static_cast<v3_plugin_factory**>(get_factory());
  return g_factory != nullptr;
}

Vst3BenchHost::Vst3BenchHost(bool tracker, const BenchSettings& settings)
    : m_outputs(tracker ? 2 : 1) {
  void* object = nullptr;
  if (v3_cpp_obj(g_factory)->create_instance(g_factory, ClassId(tracker), v3_component_iid,
                                             &object) != V3_OK)
    return;
  m_component = static_cast<v3_component**>(object);
  // The plug-ins ask nothing of a host's context.
  if (v3_cpp_obj_initialize(m_component, nullptr) != V3_OK ||
      v3_cpp_obj_query_interface(m_component, v3_audio_processor_iid, &m_processor) != V3_OK ||
      v3_cpp_obj_query_interface(m_component, v3_edit_controller_iid, &m_controller) != V3_OK)
    return;
  v3_speaker_arrangement mono_in[1] = {V3_SPEAKER_M};
  v3_speaker_arrangement mono_out[2] = {V3_SPEAKER_M, V3_SPEAKER_M};
  v3_process_setup setup = {V3_REALTIME, V3_SAMPLE_32, kBenchBlock, kBenchRate};
  auto* processor = v3_cpp_obj(m_processor);
  if (processor->set_bus_arrangements(m_processor, mono_in, 1, mono_out, m_outputs) != V3_OK ||
      processor->setup_processing(m_processor, &setup) != V3_OK ||
      v3_cpp_obj(m_component)->set_active(m_component, 1) != V3_OK)
    return;
  m_active = true;
  processor->set_processing(m_processor, 1);

  Change changes[kBenchSettingCount];
  for (size_t i = 0; i < kBenchSettingCount; ++i) {
    changes[i] = {
        &kChangeVtable, settings[i].id,
        v3_cpp_obj(m_controller)
            ->plain_parameter_to_normalised(m_controller, settings[i].id, settings[i].value)};
  }
  Changes flush_changes = {&kChangesVtable, changes, kBenchSettingCount};
  v3_process_data flush = {};
  flush.process_mode = V3_REALTIME;
  flush.symbolic_sample_size = V3_SAMPLE_32;
  flush.input_params = reinterpret_cast<v3_param_changes**>(&flush_changes);
  m_ready = processor->process(m_processor, &flush) == V3_OK;
}

Vst3BenchHost::~Vst3BenchHost() {
  if (m_active) {
    v3_cpp_obj(m_processor)->set_processing(m_processor, 0);
    v3_cpp_obj(m_component)->set_active(m_component, 0);
  }
  if (m_component != nullptr) v3_cpp_obj_terminate(m_component);
  if (m_controller != nullptr) v3_cpp_obj_unref(m_controller);
  if (m_processor != nullptr) v3_cpp_obj_unref(m_processor);
  if (m_component != nullptr) v3_cpp_obj_unref(m_component);
}

void Vst3BenchHost::Process(const float* in, float* pitch, float* gate) {
  float* in_channels[1] = {const_cast<float*>(in)};
  float* out_channels[2] = {pitch, gate};
  v3_audio_bus_buffers input = {};
  input.num_channels = 1;
  input.channel_buffers_32 = in_channels;
  v3_audio_bus_buffers outputs[2] = {};
  for (int32_t bus = 0; bus < m_outputs; ++bus) {
    outputs[bus].num_channels = 1;
    outputs[bus].channel_buffers_32 = &out_channels[bus];
  }
  v3_process_data data = {};
  data.process_mode = V3_REALTIME;
  data.symbolic_sample_size = V3_SAMPLE_32;
  data.nframes = kBenchBlock;
  data.num_input_buses = 1;
  data.num_output_buses = m_outputs;
  data.inputs = &input;
  data.outputs = outputs;
  data.input_params = reinterpret_cast<v3_param_changes**>(&g_no_changes);
  v3_cpp_obj(m_processor)->process(m_processor, &data);
}
