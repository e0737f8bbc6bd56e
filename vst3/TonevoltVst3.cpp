// Tonevolt as VST3 plug-ins: the plain module and the tracker, two audio
// effects in one bundle. Each instance is one object that is its own
// processor and edit controller; the engine (plugin/Engine.h) does the
// work. Parameter changes apply at their sample: a block is run in pieces
// between them.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "FpuControl.h"
#include "conditioning/PortableMath.h"
#include "plugin/Engine.h"
#include "plugin/Identity.h"
#include "travesty/audio_processor.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/factory.h"

#if defined(_WIN32)
#define TONEVOLT_VST3_EXPORT  // exports.def
#else
#define TONEVOLT_VST3_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using tonevolt::ControlId;
using tonevolt::ControlInfo;
using tonevolt::kControls;
using tonevolt::PluginEngine;
using tonevolt::PluginIdentity;

// What the plug-ins are to a host's browser.
constexpr char kEffectCategory[] = "Audio Module Class";
constexpr char kSubCategories[] = "Fx|Analyzer|Tools";
constexpr char kSdkVersion[] = "VST 3.7";
constexpr int32_t kManyInstances = 0x7FFFFFFF;
constexpr int32_t kFactoryUnicode = 0x10;

// The rate an instance is made at, before the host's setup gives its own.
constexpr double kFirstRate = 44100;
// Parameter changes taken from one process call; a queue that does not fit
// keeps its first points and its last.
constexpr size_t kMaxPoints = 1024;

void CopyText(char* out, size_t capacity, const char* text) {
  std::snprintf(out, capacity, "%s", text);
}

// Our texts are ASCII.
void CopyUtf16(int16_t* out, size_t capacity, const char* text) {
  size_t i = 0;
  for (; i + 1 < capacity && text[i] != '\0'; ++i) out[i] = static_cast<int16_t>(text[i]);
  out[i] = 0;
}

// A list's first entry, which a host numbers 0.
double FirstEntry(const ControlInfo& control) { return control.Stepped() ? control.min : 0.0; }

int32_t StepCount(const ControlInfo& control) {
  return control.Stepped() ? static_cast<int32_t>(control.max - control.min) : 0;
}

// A host's normalized value (0 to 1) as the plain value the engine takes:
// a list's nearest entry, the cutoff in equal ratios, the rest linear.
double PlainOf(const ControlInfo& control, double normalized, bool tracker) {
  if (std::isnan(normalized)) return control.Default(tracker);
  normalized = std::clamp(normalized, 0.0, 1.0);
  const double min = control.min, max = control.max;
  if (control.Stepped()) return min + std::round(normalized * StepCount(control));
  if (normalized == 0.0) return min;
  if (normalized == 1.0) return max;
  if (control.logarithmic)
    return min * tonevolt::PortableExp(normalized * tonevolt::PortableLog(max / min));
  return min + normalized * (max - min);
}

double NormalizedOf(const ControlInfo& control, double plain, bool tracker) {
  if (std::isnan(plain)) plain = control.Default(tracker);
  const double min = control.min, max = control.max;
  plain = std::clamp(plain, min, max);
  if (control.Stepped()) return std::round(plain - min) / StepCount(control);
  if (control.logarithmic)
    return tonevolt::PortableLog(plain / min) / tonevolt::PortableLog(max / min);
  return (plain - min) / (max - min);
}

const PluginIdentity* IdentityOf(const v3_tuid class_id) {
  for (const PluginIdentity& identity : tonevolt::kPluginIdentities) {
    if (std::memcmp(identity.vst3_class_id, class_id, sizeof(v3_tuid)) == 0) return &identity;
  }
  return nullptr;
}

// Reads a whole stream of at most PluginEngine::kStateReadLimit bytes; false for a
// longer one or a failed read.
bool ReadAll(v3_bstream** stream, uint8_t (&bytes)[PluginEngine::kStateReadLimit], size_t* size) {
  *size = 0;
  if (stream == nullptr) return false;
  while (*size < PluginEngine::kStateReadLimit) {
    int32_t read = 0;
    const int32_t wanted = static_cast<int32_t>(PluginEngine::kStateReadLimit - *size);
    if (v3_cpp_obj(stream)->read(stream, bytes + *size, wanted, &read) != V3_OK) return false;
    if (read <= 0 || read > wanted) return true;
    *size += static_cast<size_t>(read);
    if (read < wanted) return true;
  }
  return false;
}

bool WriteAll(v3_bstream** stream, uint8_t* bytes, size_t size) {
  if (stream == nullptr) return false;
  for (size_t done = 0; done < size;) {
    int32_t written = 0;
    const int32_t wanted = static_cast<int32_t>(size - done);
    if (v3_cpp_obj(stream)->write(stream, bytes + done, wanted, &written) != V3_OK ||
        written <= 0 || written > wanted)
      return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

class Plugin;

// One interface of a plug-in: what a host's pointer points at.
struct Face {
  const void* vtable;
  Plugin* plugin;
};

Plugin* PluginOf(void* self) { return static_cast<Face*>(self)->plugin; }

extern const v3_component_cpp kComponentVtable;
extern const v3_audio_processor_cpp kProcessorVtable;
extern const v3_edit_controller_cpp kControllerVtable;
extern const v3_process_context_requirements_cpp kRequirementsVtable;

class Plugin {
 public:
  explicit Plugin(const PluginIdentity& identity)
      : m_tracker(identity.tracker),
        m_engine(new (std::nothrow) PluginEngine(static_cast<float>(kFirstRate), m_tracker)),
        m_engine_rate(kFirstRate) {
    for (uint32_t id = 0; id < Count(); ++id)
      m_normalized[id] = NormalizedOf(kControls[id], kControls[id].Default(m_tracker), m_tracker);
  }

  bool Ready() const { return m_engine && m_engine->Ready(); }

  // FUnknown.
  v3_result Query(const v3_tuid iid, void** object) {
    Face* face = nullptr;
    if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_base_iid) ||
        v3_tuid_match(iid, v3_component_iid)) {
      face = &m_component;
    } else if (v3_tuid_match(iid, v3_audio_processor_iid)) {
      face = &m_processor;
    } else if (v3_tuid_match(iid, v3_edit_controller_iid)) {
      face = &m_controller;
    } else if (v3_tuid_match(iid, v3_process_context_requirements_iid)) {
      face = &m_requirements;
    }
    if (object == nullptr) return V3_INVALID_ARG;
    *object = face;
    if (face == nullptr) return V3_NO_INTERFACE;
    Ref();
    return V3_OK;
  }
  uint32_t Ref() { return ++m_references; }
  uint32_t Unref() {
    const uint32_t left = --m_references;
    if (left == 0) delete this;
    return left;
  }

  // IComponent: one mono input, one mono output (the plain module) or two
  // (the tracker's pitch and gate).
  int32_t BusCount(int32_t media_type, int32_t direction) const {
    if (media_type != V3_AUDIO) return 0;
    return direction == V3_INPUT ? 1 : OutputBusCount();
  }
  v3_result BusInfo(int32_t media_type, int32_t direction, int32_t index, v3_bus_info* info) const {
    if (info == nullptr || index < 0 || index >= BusCount(media_type, direction))
      return V3_INVALID_ARG;
    std::memset(info, 0, sizeof *info);
    info->media_type = V3_AUDIO;
    info->direction = direction;
    info->channel_count = 1;
    const char* name = direction == V3_INPUT ? "Input" : index == 0 ? "Pitch" : "Gate";
    CopyUtf16(info->bus_name, 128, name);
    info->bus_type = index == 0 ? V3_MAIN : V3_AUX;
    info->flags = V3_DEFAULT_ACTIVE;
    return V3_OK;
  }
  v3_result ActivateBus(int32_t media_type, int32_t direction, int32_t index) const {
    return index >= 0 && index < BusCount(media_type, direction) ? V3_OK : V3_INVALID_ARG;
  }

  // Not real-time: a new rate makes a new engine, with the settings.
  v3_result SetActive(bool active) {
    if (!active) return V3_OK;
    if (static_cast<float>(m_setup_rate) != static_cast<float>(m_engine_rate)) {
      std::unique_ptr<PluginEngine> engine = m_engine->AtRate(static_cast<float>(m_setup_rate));
      if (!engine) return V3_NOMEM;
      m_engine = std::move(engine);
      m_engine_rate = m_setup_rate;
    }
    m_engine->Activate();
    return m_engine->Ready() ? V3_OK : V3_NOMEM;
  }

  v3_result SetState(v3_bstream** stream) {
    uint8_t bytes[PluginEngine::kStateReadLimit];
    size_t size = 0;
    if (!ReadAll(stream, bytes, &size) || !m_engine->LoadState(bytes, size)) return V3_FALSE;
    TakeNormalized(*m_engine);
    return V3_OK;
  }
  v3_result GetState(v3_bstream** stream) const {
    uint8_t bytes[PluginEngine::kStateBytes];
    const size_t size = m_engine->SaveState(bytes, sizeof bytes);
    return size > 0 && WriteAll(stream, bytes, size) ? V3_OK : V3_FALSE;
  }

  // IAudioProcessor.
  v3_result SetBusArrangements(const v3_speaker_arrangement* inputs, int32_t input_count,
                               const v3_speaker_arrangement* outputs, int32_t output_count) const {
    if (input_count != 1 || output_count != OutputBusCount() || inputs == nullptr ||
        outputs == nullptr)
      return V3_FALSE;
    if (inputs[0] != V3_SPEAKER_M) return V3_FALSE;
    for (int32_t i = 0; i < output_count; ++i) {
      if (outputs[i] != V3_SPEAKER_M) return V3_FALSE;
    }
    return V3_OK;
  }
  v3_result BusArrangement(int32_t direction, int32_t index,
                           v3_speaker_arrangement* arrangement) const {
    if (arrangement == nullptr || index < 0 || index >= BusCount(V3_AUDIO, direction))
      return V3_INVALID_ARG;
    *arrangement = V3_SPEAKER_M;
    return V3_OK;
  }
  v3_result SetupProcessing(const v3_process_setup* setup) {
    if (setup == nullptr || setup->symbolic_sample_size != V3_SAMPLE_32 ||
        !(setup->sample_rate > 0))
      return V3_FALSE;
    m_setup_rate = setup->sample_rate;
    return V3_OK;
  }

  // Real-time: the points are gathered in m_points, and the block is run
  // in pieces from one point's sample to the next.
  v3_result Process(v3_process_data* data) {
    // Normalized values become settings as they would on any thread.
    const DefaultFpuScope fp_state;
    if (data == nullptr) return V3_INVALID_ARG;
    if (data->symbolic_sample_size != V3_SAMPLE_32) return V3_INVALID_ARG;
    const uint32_t frames = data->nframes > 0 ? static_cast<uint32_t>(data->nframes) : 0;
    const size_t points = GatherPoints(data->input_params, frames);
    const float* in = Channel(data->inputs, data->num_input_buses, 0);
    float* pitch = Channel(data->outputs, data->num_output_buses, 0);
    float* gate = m_tracker ? Channel(data->outputs, data->num_output_buses, 1) : nullptr;
    // While the transport plays, the tracker's frames are put on the
    // timeline, so that a render does not depend on what ran before it.
    if (data->ctx != nullptr && (data->ctx->state & V3_PROCESS_CTX_PLAYING) != 0)
      m_engine->Align(data->ctx->project_time_in_samples);
    if (frames == 0 || in == nullptr || pitch == nullptr) {
      // A flush, or nothing to read: the settings still change.
      for (size_t i = 0; i < points; ++i) Apply(m_points[i]);
      if (pitch != nullptr) std::fill_n(pitch, frames, 0.0f);
      if (gate != nullptr) std::fill_n(gate, frames, 0.0f);
      return V3_OK;
    }
    uint32_t done = 0;
    for (size_t i = 0; i < points; ++i) {
      const uint32_t at = m_points[i].offset;
      if (at > done) {
        m_engine->Process(in + done, pitch + done, gate != nullptr ? gate + done : nullptr,
                          at - done);
        done = at;
      }
      Apply(m_points[i]);
    }
    if (done < frames)
      m_engine->Process(in + done, pitch + done, gate != nullptr ? gate + done : nullptr,
                        frames - done);
    for (int32_t bus = 0; bus < data->num_output_buses; ++bus)
      data->outputs[bus].channel_silence_bitset = 0;
    return V3_OK;
  }

  // IEditController: a normalized copy of each setting, as the host last
  // set it or a state gave it.
  v3_result SetComponentState(v3_bstream** stream) {
    uint8_t bytes[PluginEngine::kStateReadLimit];
    size_t size = 0;
    if (!ReadAll(stream, bytes, &size)) return V3_FALSE;
    float values[tonevolt::kTrackerControlCount];
    if (!PluginEngine::DecodeState(bytes, size, m_tracker, values)) return V3_FALSE;
    TakeNormalized(values);
    return V3_OK;
  }
  int32_t ParameterCount() const { return static_cast<int32_t>(Count()); }
  v3_result ParameterInfo(int32_t index, v3_param_info* info) const {
    if (info == nullptr || index < 0 || index >= ParameterCount()) return V3_INVALID_ARG;
    const ControlInfo& control = kControls[index];
    std::memset(info, 0, sizeof *info);
    info->param_id = control.id;
    CopyUtf16(info->title, 128, control.name);
    CopyUtf16(info->short_title, 128, control.name);
    CopyUtf16(info->units, 128, control.unit);
    info->step_count = StepCount(control);
    info->default_normalised_value = NormalizedOf(control, control.Default(m_tracker), m_tracker);
    // Every one, the lowest note too, though it takes effect at the next
    // activation only: Ardour lists no other.
    info->flags = V3_PARAM_CAN_AUTOMATE;
    if (control.Stepped()) info->flags |= V3_PARAM_IS_LIST;
    return V3_OK;
  }
  v3_result StringForValue(v3_param_id id, double normalized, int16_t* out) const {
    if (!Has(id) || out == nullptr) return V3_INVALID_ARG;
    const ControlInfo& control = kControls[id];
    const double plain = PlainOf(control, normalized, m_tracker);
    char text[64];
    if (control.Stepped()) {
      CopyText(text, sizeof text, control.labels[static_cast<int32_t>(plain - control.min)]);
    } else {
      std::snprintf(text, sizeof text, "%.2f", plain);
    }
    CopyUtf16(out, 128, text);
    return V3_OK;
  }
  v3_result ValueForString(v3_param_id id, const int16_t* in, double* normalized) const {
    if (!Has(id) || in == nullptr || normalized == nullptr) return V3_INVALID_ARG;
    char text[128];
    size_t length = 0;
    for (; length + 1 < sizeof text && in[length] != 0; ++length) {
      if (in[length] < 0 || in[length] > 127) return V3_FALSE;
      text[length] = static_cast<char>(in[length]);
    }
    text[length] = '\0';
    const ControlInfo& control = kControls[id];
    for (int32_t step = 0; control.Stepped() && step <= StepCount(control); ++step) {
      if (std::strcmp(text, control.labels[step]) == 0) {
        *normalized = NormalizedOf(control, control.min + step, m_tracker);
        return V3_OK;
      }
    }
    char* end = nullptr;
    const double plain = std::strtod(text, &end);
    if (end == text || std::isnan(plain)) return V3_FALSE;
    *normalized = NormalizedOf(control, plain, m_tracker);
    return V3_OK;
  }
  // Hosts see a list's entries as 0, 1, ...: a two-entry list is a switch
  // to them (Ardour keeps one at 0 or 1, whatever its range says).
  double ToPlain(v3_param_id id, double normalized) const {
    return Has(id) ? PlainOf(kControls[id], normalized, m_tracker) - FirstEntry(kControls[id])
                   : 0.0;
  }
  double ToNormalized(v3_param_id id, double plain) const {
    return Has(id) ? NormalizedOf(kControls[id], plain + FirstEntry(kControls[id]), m_tracker)
                   : 0.0;
  }
  double Normalized(v3_param_id id) const { return Has(id) ? m_normalized[id] : 0.0; }
  v3_result SetNormalized(v3_param_id id, double normalized) {
    if (!Has(id) || std::isnan(normalized)) return V3_INVALID_ARG;
    m_normalized[id] = std::clamp(normalized, 0.0, 1.0);
    return V3_OK;
  }

  Face m_component{&kComponentVtable, this};
  Face m_processor{&kProcessorVtable, this};
  Face m_controller{&kControllerVtable, this};
  Face m_requirements{&kRequirementsVtable, this};

 private:
  // A parameter change: its sample in the block and its normalized value.
  struct Point {
    ControlId id;
    uint32_t offset;
    double value;
  };

  uint32_t Count() const { return tonevolt::ControlCount(m_tracker); }
  bool Has(v3_param_id id) const { return id < Count(); }
  int32_t OutputBusCount() const { return m_tracker ? 2 : 1; }

  static float* Channel(v3_audio_bus_buffers* buses, int32_t count, int32_t bus) {
    if (buses == nullptr || bus >= count || buses[bus].num_channels < 1 ||
        buses[bus].channel_buffers_32 == nullptr)
      return nullptr;
    return buses[bus].channel_buffers_32[0];
  }

  void Apply(const Point& point) {
    m_engine->Set(point.id,
                  static_cast<float>(PlainOf(kControls[point.id], point.value, m_tracker)));
  }

  // Every point of every queue of ours into m_points, in order of sample
  // (points at one sample keep the host's order). Each queue left to read
  // has a place kept for its last point. Answers the count.
  size_t GatherPoints(v3_param_changes** changes, uint32_t frames) {
    if (changes == nullptr) return 0;
    const int32_t queues = v3_cpp_obj(changes)->get_param_count(changes);
    size_t count = 0;
    for (int32_t q = 0; q < queues && count < kMaxPoints; ++q) {
      v3_param_value_queue** queue = v3_cpp_obj(changes)->get_param_data(changes, q);
      if (queue == nullptr) continue;
      const v3_param_id id = v3_cpp_obj(queue)->get_param_id(queue);
      const int32_t total = v3_cpp_obj(queue)->get_point_count(queue);
      if (!Has(id) || total <= 0) continue;
      const size_t kept_for_rest = std::min<size_t>(queues - q - 1, kMaxPoints - count - 1);
      const size_t room = kMaxPoints - count - kept_for_rest;
      for (int32_t i = 0; i < total; ++i) {
        // When the queue does not fit, its last point takes the last place.
        if (static_cast<size_t>(i) + 1 >= room && i != total - 1) continue;
        int32_t offset = 0;
        double value = 0;
        if (v3_cpp_obj(queue)->get_point(queue, i, &offset, &value) != V3_OK) continue;
        const uint32_t at = static_cast<uint32_t>(std::clamp<int64_t>(offset, 0, frames));
        m_points[count++] = {static_cast<ControlId>(id), at, value};
      }
    }
    // Insertion sort: stable, in place.
    for (size_t i = 1; i < count; ++i) {
      const Point point = m_points[i];
      size_t j = i;
      for (; j > 0 && m_points[j - 1].offset > point.offset; --j) m_points[j] = m_points[j - 1];
      m_points[j] = point;
    }
    return count;
  }

  void TakeNormalized(const float (&values)[tonevolt::kTrackerControlCount]) {
    for (uint32_t id = 0; id < Count(); ++id)
      m_normalized[id] = NormalizedOf(kControls[id], values[id], m_tracker);
  }
  void TakeNormalized(const PluginEngine& engine) {
    float values[tonevolt::kTrackerControlCount] = {};
    for (uint32_t id = 0; id < Count(); ++id) values[id] = engine.Get(static_cast<ControlId>(id));
    TakeNormalized(values);
  }

  const bool m_tracker;
  std::atomic<uint32_t> m_references{0};
  std::unique_ptr<PluginEngine> m_engine;
  double m_engine_rate;
  double m_setup_rate = kFirstRate;
  double m_normalized[tonevolt::kTrackerControlCount] = {};
  Point m_points[kMaxPoints];
};

// The interfaces' tables: each entry finds the plug-in from its face.

v3_result V3_API QueryInterface(void* self, const v3_tuid iid, void** object) {
  return PluginOf(self)->Query(iid, object);
}
uint32_t V3_API Ref(void* self) { return PluginOf(self)->Ref(); }
uint32_t V3_API Unref(void* self) { return PluginOf(self)->Unref(); }

v3_result V3_API Initialize(void*, v3_funknown**) { return V3_OK; }
v3_result V3_API Terminate(void*) { return V3_OK; }

// The controller is this same object, which a host finds by asking it for
// IEditController.
v3_result V3_API GetControllerClassId(void*, v3_tuid) { return V3_NOT_IMPLEMENTED; }
v3_result V3_API SetIoMode(void*, int32_t) { return V3_OK; }
int32_t V3_API GetBusCount(void* self, int32_t media_type, int32_t direction) {
  return PluginOf(self)->BusCount(media_type, direction);
}
v3_result V3_API GetBusInfo(void* self, int32_t media_type, int32_t direction, int32_t index,
                            v3_bus_info* info) {
  return PluginOf(self)->BusInfo(media_type, direction, index, info);
}
v3_result V3_API GetRoutingInfo(void*, v3_routing_info*, v3_routing_info*) {
  return V3_NOT_IMPLEMENTED;
}
v3_result V3_API ActivateBus(void* self, int32_t media_type, int32_t direction, int32_t index,
                             v3_bool) {
  return PluginOf(self)->ActivateBus(media_type, direction, index);
}
v3_result V3_API SetActive(void* self, v3_bool active) {
  return PluginOf(self)->SetActive(active != 0);
}
v3_result V3_API SetState(void* self, v3_bstream** stream) {
  return PluginOf(self)->SetState(stream);
}
v3_result V3_API GetState(void* self, v3_bstream** stream) {
  return PluginOf(self)->GetState(stream);
}

v3_result V3_API SetBusArrangements(void* self, v3_speaker_arrangement* inputs, int32_t input_count,
                                    v3_speaker_arrangement* outputs, int32_t output_count) {
  return PluginOf(self)->SetBusArrangements(inputs, input_count, outputs, output_count);
}
v3_result V3_API GetBusArrangement(void* self, int32_t direction, int32_t index,
                                   v3_speaker_arrangement* arrangement) {
  return PluginOf(self)->BusArrangement(direction, index, arrangement);
}
v3_result V3_API CanProcessSampleSize(void*, int32_t size) {
  return size == V3_SAMPLE_32 ? V3_OK : V3_FALSE;
}
uint32_t V3_API GetLatencySamples(void*) { return PluginEngine::kLatencySamples; }
v3_result V3_API SetupProcessing(void* self, v3_process_setup* setup) {
  return PluginOf(self)->SetupProcessing(setup);
}
v3_result V3_API SetProcessing(void*, v3_bool) { return V3_OK; }
v3_result V3_API Process(void* self, v3_process_data* data) {
  return PluginOf(self)->Process(data);
}
uint32_t V3_API GetTailSamples(void*) { return 0; }

v3_result V3_API SetComponentState(void* self, v3_bstream** stream) {
  return PluginOf(self)->SetComponentState(stream);
}
// The controller keeps nothing of its own.
v3_result V3_API SetControllerState(void*, v3_bstream**) { return V3_OK; }
v3_result V3_API GetControllerState(void*, v3_bstream**) { return V3_OK; }
int32_t V3_API GetParameterCount(void* self) { return PluginOf(self)->ParameterCount(); }
v3_result V3_API GetParameterInfo(void* self, int32_t index, v3_param_info* info) {
  return PluginOf(self)->ParameterInfo(index, info);
}
v3_result V3_API GetParameterStringForValue(void* self, v3_param_id id, double normalized,
                                            v3_str_128 out) {
  return PluginOf(self)->StringForValue(id, normalized, out);
}
v3_result V3_API GetParameterValueForString(void* self, v3_param_id id, int16_t* in,
                                            double* normalized) {
  return PluginOf(self)->ValueForString(id, in, normalized);
}
double V3_API NormalizedParameterToPlain(void* self, v3_param_id id, double normalized) {
  return PluginOf(self)->ToPlain(id, normalized);
}
double V3_API PlainParameterToNormalized(void* self, v3_param_id id, double plain) {
  return PluginOf(self)->ToNormalized(id, plain);
}
double V3_API GetParameterNormalized(void* self, v3_param_id id) {
  return PluginOf(self)->Normalized(id);
}
v3_result V3_API SetParameterNormalized(void* self, v3_param_id id, double normalized) {
  return PluginOf(self)->SetNormalized(id, normalized);
}
v3_result V3_API SetComponentHandler(void*, v3_component_handler**) { return V3_OK; }
v3_plugin_view** V3_API CreateView(void*, const char*) { return nullptr; }

// The host's time is not used.
// The transport's place on the timeline, for the tracker's frames.
uint32_t V3_API GetProcessContextRequirements(void*) { return V3_PROCESS_CTX_NEED_PROJECT_TIME; }

const v3_component_cpp kComponentVtable = {
    {QueryInterface, Ref, Unref},
    {Initialize, Terminate},
    {GetControllerClassId, SetIoMode, GetBusCount, GetBusInfo, GetRoutingInfo, ActivateBus,
     SetActive, SetState, GetState},
};
const v3_audio_processor_cpp kProcessorVtable = {
    {QueryInterface, Ref, Unref},
    {SetBusArrangements, GetBusArrangement, CanProcessSampleSize, GetLatencySamples,
     SetupProcessing, SetProcessing, Process, GetTailSamples},
};
const v3_edit_controller_cpp kControllerVtable = {
    {QueryInterface, Ref, Unref},
    {Initialize, Terminate},
    {SetComponentState, SetControllerState, GetControllerState, GetParameterCount, GetParameterInfo,
     GetParameterStringForValue, GetParameterValueForString, NormalizedParameterToPlain,
     PlainParameterToNormalized, GetParameterNormalized, SetParameterNormalized,
     SetComponentHandler, CreateView},
};
const v3_process_context_requirements_cpp kRequirementsVtable = {
    {QueryInterface, Ref, Unref},
    {GetProcessContextRequirements},
};

// The factory: one for the module's lifetime, never freed.

v3_result V3_API QueryFactory(void* self, const v3_tuid iid, void** object) {
  const bool known =
      v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_factory_iid) ||
      v3_tuid_match(iid, v3_plugin_factory_2_iid) || v3_tuid_match(iid, v3_plugin_factory_3_iid);
  if (object == nullptr) return V3_INVALID_ARG;
  *object = known ? self : nullptr;
  return known ? V3_OK : V3_NO_INTERFACE;
}
uint32_t V3_API RefFactory(void*) { return 1; }
uint32_t V3_API UnrefFactory(void*) { return 1; }

constexpr int32_t kClassCount =
    static_cast<int32_t>(sizeof tonevolt::kPluginIdentities / sizeof(PluginIdentity));

v3_result V3_API GetFactoryInfo(void*, v3_factory_info* info) {
  if (info == nullptr) return V3_INVALID_ARG;
  std::memset(info, 0, sizeof *info);
  CopyText(info->vendor, sizeof info->vendor, tonevolt::kVendor);
  CopyText(info->url, sizeof info->url, tonevolt::kHomepage);
  info->flags = kFactoryUnicode;
  return V3_OK;
}
int32_t V3_API NumClasses(void*) { return kClassCount; }
// What every version of class info starts with; null for an index out of
// range.
template <class Info>
const PluginIdentity* FillClassHead(int32_t index, Info* info) {
  if (info == nullptr || index < 0 || index >= kClassCount) return nullptr;
  const PluginIdentity& identity = tonevolt::kPluginIdentities[index];
  std::memset(info, 0, sizeof *info);
  std::memcpy(info->class_id, identity.vst3_class_id, sizeof(v3_tuid));
  info->cardinality = kManyInstances;
  CopyText(info->category, sizeof info->category, kEffectCategory);
  return &identity;
}
v3_result V3_API GetClassInfo(void*, int32_t index, v3_class_info* info) {
  const PluginIdentity* identity = FillClassHead(index, info);
  if (identity == nullptr) return V3_INVALID_ARG;
  CopyText(info->name, sizeof info->name, identity->name);
  return V3_OK;
}
v3_result V3_API CreateInstance(void*, const v3_tuid class_id, const v3_tuid iid, void** object) {
  if (object == nullptr) return V3_INVALID_ARG;
  *object = nullptr;
  const PluginIdentity* identity = IdentityOf(class_id);
  if (identity == nullptr) return V3_NO_INTERFACE;
  Plugin* plugin = new (std::nothrow) Plugin(*identity);
  if (plugin == nullptr) return V3_NOMEM;
  if (!plugin->Ready()) {
    delete plugin;
    return V3_NOMEM;
  }
  const v3_result result = plugin->Query(iid, object);
  if (result != V3_OK) delete plugin;
  return result;
}
// Class info 2 and 3 differ only in the text type of their names.
template <class Info, class CopyName>
v3_result FillClassInfo(int32_t index, Info* info, CopyName copy_name) {
  const PluginIdentity* identity = FillClassHead(index, info);
  if (identity == nullptr) return V3_INVALID_ARG;
  CopyText(info->sub_categories, sizeof info->sub_categories, kSubCategories);
  copy_name(info->name, identity->name);
  copy_name(info->vendor, tonevolt::kVendor);
  copy_name(info->version, tonevolt::kVersion);
  copy_name(info->sdk_version, kSdkVersion);
  return V3_OK;
}
v3_result V3_API GetClassInfo2(void*, int32_t index, v3_class_info_2* info) {
  return FillClassInfo(index, info,
                       [](char(&out)[64], const char* text) { CopyText(out, sizeof out, text); });
}
v3_result V3_API GetClassInfoUtf16(void*, int32_t index, v3_class_info_3* info) {
  return FillClassInfo(index, info,
                       [](int16_t(&out)[64], const char* text) { CopyUtf16(out, 64, text); });
}
v3_result V3_API SetHostContext(void*, v3_funknown**) { return V3_OK; }

const v3_plugin_factory_cpp kFactoryVtable = {
    {QueryFactory, RefFactory, UnrefFactory},
    {GetFactoryInfo, NumClasses, GetClassInfo, CreateInstance},
    {GetClassInfo2},
    {GetClassInfoUtf16, SetHostContext},
};

struct Factory {
  const v3_plugin_factory_cpp* vtable;
};
Factory g_factory = {&kFactoryVtable};

}  // namespace

extern "C" {

TONEVOLT_VST3_EXPORT const void* GetPluginFactory() { return &g_factory; }

// Nothing to set up or tear down per load.
#if defined(_WIN32)
TONEVOLT_VST3_EXPORT bool InitDll() { return true; }
TONEVOLT_VST3_EXPORT bool ExitDll() { return true; }
#else
TONEVOLT_VST3_EXPORT bool ModuleEntry(void*) { return true; }
TONEVOLT_VST3_EXPORT bool ModuleExit() { return true; }
#endif

}  // extern "C"
