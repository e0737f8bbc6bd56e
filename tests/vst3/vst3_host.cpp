// A VST3 host for the tests: loads a bundle's binary, makes the plain
// plug-in or the tracker, optionally loads a saved state, and renders a
// mono float file in blocks of random lengths, with the settings' changes
// sent inside the blocks at their samples, under a DAW's floating-point
// state. The command line is the one every render host of the tests takes:
//
//   HOST PLUGIN_PATH KIND RATE SEED IN.f32 PITCH.f32 [--gate GATE.f32]
//        [--events EVENTS.txt] [--load-state FILE] [--save-state FILE] [--params]
//        [--timeline SAMPLE]
//
// --timeline: the transport plays, the input's first sample at SAMPLE.
// Exit codes: 0 ok, 2 usage, 3 the plug-in failed to load, create or
// activate, 4 the floating-point state was not given back, 5 I/O.
#include <xmmintrin.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "plugin/Controls.h"
#include "plugin/Identity.h"
#include "travesty/audio_processor.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/factory.h"
#include "travesty/host.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <sys/stat.h>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitPlugin = 3;
constexpr int kExitFpState = 4;
constexpr int kExitIo = 5;

constexpr char kEffectCategory[] = "Audio Module Class";
constexpr int32_t kMaxBlock = 4096;

// A DAW's audio thread, block by block in turn: every exception masked,
// flush-to-zero and denormals-are-zero on, or one of them with another
// rounding, or flags left raised. The plug-in gives each back exactly.
constexpr uint32_t kHostMxcsr[] = {0x9FC0, 0xDFC0, 0x3FC0, 0xFF80, 0x9FE1};
constexpr uint32_t kDefaultMxcsr = 0x1F80;

uint16_t X87ControlWord() {
  uint16_t word;
  __asm__ __volatile__("fnstcw %0" : "=m"(word));
  return word;
}

void Usage() {
  std::fprintf(stderr,
               "usage: tonevolt_vst3_host PLUGIN_PATH plain|tracker RATE SEED IN.f32 PITCH.f32\n"
               "         [--gate GATE.f32] [--events EVENTS.txt] [--load-state FILE]\n"
               "         [--save-state FILE] [--params] [--timeline SAMPLE]\n");
}

struct Options {
  std::string plugin_path;
  bool tracker = false;
  double rate = 0;
  uint32_t seed = 0;
  std::string in_path, pitch_path, gate_path, events_path, load_state_path, save_state_path;
  bool params = false;
  bool playing = false;  // --timeline: the input plays from timeline sample `timeline`
  int64_t timeline = 0;
};

bool ParseOptions(int argc, char** argv, Options* options) {
  if (argc < 7) return false;
  options->plugin_path = argv[1];
  const std::string kind = argv[2];
  if (kind != "plain" && kind != "tracker") return false;
  options->tracker = kind == "tracker";
  char* end = nullptr;
  options->rate = std::strtod(argv[3], &end);
  if (*end != '\0' || !(options->rate > 0)) return false;
  errno = 0;
  const unsigned long long seed = std::strtoull(argv[4], &end, 10);
  if (*end != '\0' || errno != 0 || seed > UINT32_MAX) return false;
  options->seed = static_cast<uint32_t>(seed);
  options->in_path = argv[5];
  options->pitch_path = argv[6];
  for (int i = 7; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--params") {
      options->params = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (flag == "--gate") {
      options->gate_path = value;
    } else if (flag == "--events") {
      options->events_path = value;
    } else if (flag == "--load-state") {
      options->load_state_path = value;
    } else if (flag == "--save-state") {
      options->save_state_path = value;
    } else if (flag == "--timeline") {
      options->timeline = std::strtoll(value, &end, 10);
      if (*end != '\0') return false;
      options->playing = true;
    } else {
      return false;
    }
  }
  return true;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes->clear();
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes->insert(bytes->end(), chunk, chunk + got);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

bool WriteFile(const std::string& path, const void* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

// A settings change as the events file gives it.
struct Event {
  uint64_t at;
  v3_param_id id;
  double value;       // plain, as a user sees it
  double normalized;  // as the plug-in's controller maps it
};

// One line "AT ID VALUE": AT and ID unsigned decimals, VALUE read with
// strtod in the "C" locale (this program never sets another), so hex floats
// work.
bool ParseEvent(const char* line, Event* event) {
  const char* cursor = line;
  auto skip_blanks = [&cursor] {
    while (*cursor == ' ' || *cursor == '\t') ++cursor;
  };
  char* end = nullptr;
  skip_blanks();
  if (!std::isdigit(static_cast<unsigned char>(*cursor))) return false;
  event->at = std::strtoull(cursor, &end, 10);
  cursor = end;
  skip_blanks();
  if (!std::isdigit(static_cast<unsigned char>(*cursor))) return false;
  const unsigned long id = std::strtoul(cursor, &end, 10);
  if (id > UINT32_MAX) return false;
  event->id = static_cast<v3_param_id>(id);
  cursor = end;
  event->value = std::strtod(cursor, &end);
  if (end == cursor) return false;
  cursor = end;
  skip_blanks();
  return *cursor == '\0' || *cursor == '\n' || *cursor == '\r';
}

// Blank lines are skipped; false on any other line that is not an event.
bool ParseEvents(const std::vector<uint8_t>& text, std::vector<Event>* events) {
  std::string line;
  for (size_t start = 0; start < text.size();) {
    size_t stop = start;
    while (stop < text.size() && text[stop] != '\n') ++stop;
    line.assign(text.begin() + start, text.begin() + stop);
    start = stop + 1;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    Event event{};
    if (!ParseEvent(line.c_str(), &event)) {
      std::fprintf(stderr, "not an event (AT ID VALUE): %s\n", line.c_str());
      return false;
    }
    events->push_back(event);
  }
  std::stable_sort(events->begin(), events->end(),
                   [](const Event& a, const Event& b) { return a.at < b.at; });
  return true;
}

// Block lengths from 1 to kMaxBlock, the same on every platform.
class BlockLengths {
 public:
  explicit BlockLengths(uint32_t seed) : m_state(seed != 0 ? seed : 0x9E3779B9u) {}
  uint32_t Next() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return 1 + m_state % kMaxBlock;
  }

 private:
  uint32_t m_state;
};

std::string Utf16ToAscii(const int16_t* text, size_t capacity) {
  std::string out;
  for (size_t i = 0; i < capacity && text[i] != 0; ++i)
    out += text[i] > 0 && text[i] < 128 ? static_cast<char>(text[i]) : '?';
  return out;
}

// The host's side of the interfaces: each object starts with its table.

struct HostApplication {
  const v3_host_application_cpp* vtable;

  static v3_result V3_API Query(void* self, const v3_tuid iid, void** object) {
    const bool known =
        v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_host_application_iid);
    *object = known ? self : nullptr;
    return known ? V3_OK : V3_NO_INTERFACE;
  }
  static uint32_t V3_API Ref(void*) { return 1; }
  static uint32_t V3_API Unref(void*) { return 1; }
  static v3_result V3_API GetName(void*, v3_str_128 name) {
    const char text[] = "Tonevolt test host";
    for (size_t i = 0; i < sizeof text; ++i) name[i] = text[i];
    return V3_OK;
  }
  static v3_result V3_API CreateInstance(void*, v3_tuid, v3_tuid, void** object) {
    *object = nullptr;
    return V3_NOT_IMPLEMENTED;
  }
};
const v3_host_application_cpp kHostApplicationVtable = {
    {HostApplication::Query, HostApplication::Ref, HostApplication::Unref},
    {HostApplication::GetName, HostApplication::CreateInstance},
};

// Objects the plug-in only borrows for a call: no reference counting.
v3_result V3_API QueryNothing(void*, const v3_tuid, void** object) {
  *object = nullptr;
  return V3_NO_INTERFACE;
}
uint32_t V3_API RefBorrowed(void*) { return 1; }
uint32_t V3_API UnrefBorrowed(void*) { return 1; }

struct MemoryStream {
  const v3_funknown* vtable;
  std::vector<uint8_t> bytes;
  size_t position = 0;

  static MemoryStream* Of(void* self) { return static_cast<MemoryStream*>(self); }
  static v3_result V3_API Read(void* self, void* buffer, int32_t size, int32_t* read) {
    MemoryStream* stream = Of(self);
    if (size < 0) return V3_INVALID_ARG;
    const size_t count =
        std::min(static_cast<size_t>(size), stream->bytes.size() - stream->position);
    if (count > 0) std::memcpy(buffer, stream->bytes.data() + stream->position, count);
    stream->position += count;
    if (read != nullptr) *read = static_cast<int32_t>(count);
    return V3_OK;
  }
  static v3_result V3_API Write(void* self, void* buffer, int32_t size, int32_t* written) {
    MemoryStream* stream = Of(self);
    if (size < 0) return V3_INVALID_ARG;
    const uint8_t* data = static_cast<const uint8_t*>(buffer);
    if (stream->bytes.size() < stream->position + size)
      stream->bytes.resize(stream->position + size);
    std::copy(data, data + size, stream->bytes.begin() + stream->position);
    stream->position += size;
    if (written != nullptr) *written = size;
    return V3_OK;
  }
  static v3_result V3_API Seek(void* self, int64_t offset, int32_t mode, int64_t* result) {
    MemoryStream* stream = Of(self);
    const int64_t base = mode == V3_SEEK_SET   ? 0
                         : mode == V3_SEEK_CUR ? static_cast<int64_t>(stream->position)
                                               : static_cast<int64_t>(stream->bytes.size());
    const int64_t target = base + offset;
    if (target < 0 || target > static_cast<int64_t>(stream->bytes.size())) return V3_INVALID_ARG;
    stream->position = static_cast<size_t>(target);
    if (result != nullptr) *result = target;
    return V3_OK;
  }
  static v3_result V3_API Tell(void* self, int64_t* position) {
    *position = static_cast<int64_t>(Of(self)->position);
    return V3_OK;
  }
};
struct MemoryStreamVtable : v3_funknown {
  v3_bstream stream;
};
const MemoryStreamVtable kMemoryStreamVtable = {
    {QueryNothing, RefBorrowed, UnrefBorrowed},
    {MemoryStream::Read, MemoryStream::Write, MemoryStream::Seek, MemoryStream::Tell},
};
v3_bstream** AsStream(MemoryStream* stream) { return reinterpret_cast<v3_bstream**>(stream); }

struct ValueQueue {
  const v3_param_value_queue_cpp* vtable;
  v3_param_id id;
  std::vector<std::pair<int32_t, double>> points;

  static ValueQueue* Of(void* self) { return static_cast<ValueQueue*>(self); }
  static v3_param_id V3_API Id(void* self) { return Of(self)->id; }
  static int32_t V3_API PointCount(void* self) {
    return static_cast<int32_t>(Of(self)->points.size());
  }
  static v3_result V3_API GetPoint(void* self, int32_t index, int32_t* offset, double* value) {
    const ValueQueue* queue = Of(self);
    if (index < 0 || index >= static_cast<int32_t>(queue->points.size())) return V3_INVALID_ARG;
    *offset = queue->points[index].first;
    *value = queue->points[index].second;
    return V3_OK;
  }
  static v3_result V3_API AddPoint(void* self, int32_t offset, double value, int32_t* index) {
    ValueQueue* queue = Of(self);
    queue->points.emplace_back(offset, value);
    if (index != nullptr) *index = static_cast<int32_t>(queue->points.size()) - 1;
    return V3_OK;
  }
};
const v3_param_value_queue_cpp kValueQueueVtable = {
    {QueryNothing, RefBorrowed, UnrefBorrowed},
    {ValueQueue::Id, ValueQueue::PointCount, ValueQueue::GetPoint, ValueQueue::AddPoint},
};

struct ParameterChanges {
  const v3_param_changes_cpp* vtable;
  std::deque<ValueQueue> queues;  // a deque keeps the queues where they are

  ValueQueue* QueueOf(v3_param_id id) {
    for (ValueQueue& queue : queues) {
      if (queue.id == id) return &queue;
    }
    queues.push_back(ValueQueue{&kValueQueueVtable, id, {}});
    return &queues.back();
  }

  static ParameterChanges* Of(void* self) { return static_cast<ParameterChanges*>(self); }
  static int32_t V3_API Count(void* self) { return static_cast<int32_t>(Of(self)->queues.size()); }
  static v3_param_value_queue** V3_API Data(void* self, int32_t index) {
    ParameterChanges* changes = Of(self);
    if (index < 0 || index >= static_cast<int32_t>(changes->queues.size())) return nullptr;
    return reinterpret_cast<v3_param_value_queue**>(&changes->queues[index]);
  }
  static v3_param_value_queue** V3_API Add(void* self, v3_param_id* id, int32_t* index) {
    ParameterChanges* changes = Of(self);
    ValueQueue* queue = changes->QueueOf(*id);
    if (index != nullptr) *index = static_cast<int32_t>(queue - &changes->queues.front());
    return reinterpret_cast<v3_param_value_queue**>(queue);
  }
};
const v3_param_changes_cpp kParameterChangesVtable = {
    {QueryNothing, RefBorrowed, UnrefBorrowed},
    {ParameterChanges::Count, ParameterChanges::Data, ParameterChanges::Add},
};

// The loaded binary and its entry points.
class Module {
 public:
  using GetFactory = void* (*)();
  using Entry = bool (*)(void*);
  using Exit = bool (*)();

  bool Load(const std::string& bundle) {
    std::string path = bundle;
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
      while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
      std::string name = path.substr(path.find_last_of("/\\") + 1);
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".vst3") == 0)
        name.resize(name.size() - 5);
#if defined(_WIN32)
      path += "/Contents/x86_64-win/" + name + ".vst3";
#else
      path += "/Contents/x86_64-linux/" + name + ".so";
#endif
    }
#if defined(_WIN32)
    std::replace(path.begin(), path.end(), '/', '\\');
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    m_handle = LoadLibraryW(wide.c_str());
    if (m_handle == nullptr) {
      std::fprintf(stderr, "cannot load %s (error %lu)\n", path.c_str(), GetLastError());
      return false;
    }
    Exit entry = reinterpret_cast<Exit>(Symbol("InitDll"));
    m_exit = reinterpret_cast<Exit>(Symbol("ExitDll"));
    const bool entered = entry != nullptr && entry();
#else
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
      std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
      return false;
    }
    Entry entry = reinterpret_cast<Entry>(Symbol("ModuleEntry"));
    m_exit = reinterpret_cast<Exit>(Symbol("ModuleExit"));
    const bool entered = entry != nullptr && entry(m_handle);
#endif
    if (!entered || m_exit == nullptr) {
      std::fprintf(stderr, "%s: its module entry is missing or failed\n", path.c_str());
      return false;
    }
    m_entered = true;
    m_get_factory = reinterpret_cast<GetFactory>(Symbol("GetPluginFactory"));
    if (m_get_factory == nullptr)
      std::fprintf(stderr, "%s has no GetPluginFactory\n", path.c_str());
    return m_get_factory != nullptr;
  }

  v3_plugin_factory** Factory() const { return static_cast<v3_plugin_factory**>(m_get_factory()); }

  ~Module() {
    if (m_entered) m_exit();
#if defined(_WIN32)
    if (m_handle != nullptr) FreeLibrary(m_handle);
#else
    if (m_handle != nullptr) dlclose(m_handle);
#endif
  }

 private:
  void* Symbol(const char* name) const {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(m_handle, name));
#else
    return dlsym(m_handle, name);
#endif
  }

#if defined(_WIN32)
  HMODULE m_handle = nullptr;
#else
  void* m_handle = nullptr;
#endif
  GetFactory m_get_factory = nullptr;
  Exit m_exit = nullptr;
  bool m_entered = false;
};

template <class T>
void Release(T** object) {
  if (object != nullptr) v3_cpp_obj_unref(object);
}

// The plug-in's interfaces, released in the order a host drops them.
struct Instance {
  v3_component** component = nullptr;
  v3_audio_processor** processor = nullptr;
  v3_edit_controller** controller = nullptr;
  bool separate_controller = false;
  bool initialized = false;

  ~Instance() {
    if (separate_controller && controller != nullptr) v3_cpp_obj_terminate(controller);
    if (initialized) v3_cpp_obj_terminate(component);
    Release(controller);
    Release(processor);
    Release(component);
  }
};

HostApplication g_host_application = {&kHostApplicationVtable};
v3_funknown** HostContext() { return reinterpret_cast<v3_funknown**>(&g_host_application); }

// The factory's class for the kind of plug-in asked for.
bool FindClass(v3_plugin_factory** factory, bool tracker, v3_tuid class_id) {
  const uint8_t* wanted = nullptr;
  for (const tonevolt::PluginIdentity& identity : tonevolt::kPluginIdentities) {
    if (identity.tracker == tracker) wanted = identity.vst3_class_id;
  }
  const int32_t count = v3_cpp_obj(factory)->num_classes(factory);
  for (int32_t i = 0; i < count; ++i) {
    v3_class_info info;
    if (v3_cpp_obj(factory)->get_class_info(factory, i, &info) != V3_OK) continue;
    if (std::memcmp(info.class_id, wanted, sizeof(v3_tuid)) != 0) continue;
    if (std::strncmp(info.category, kEffectCategory, sizeof info.category) != 0) {
      std::fprintf(stderr, "the class is a \"%.32s\", not an audio effect\n", info.category);
      return false;
    }
    std::memcpy(class_id, info.class_id, sizeof(v3_tuid));
    return true;
  }
  std::fprintf(stderr, "the factory has no %s class\n", tracker ? "tracker" : "plain");
  return false;
}

// Created and initialized, with its processor and its controller: the
// component itself, or the class it names.
bool Create(v3_plugin_factory** factory, const v3_tuid class_id, Instance* instance) {
  v3_plugin_factory_3** factory3 = nullptr;
  if (v3_cpp_obj_query_interface(factory, v3_plugin_factory_3_iid, &factory3) == V3_OK &&
      factory3 != nullptr) {
    v3_cpp_obj(factory3)->set_host_context(factory3, HostContext());
    Release(factory3);
  }
  void* object = nullptr;
  if (v3_cpp_obj(factory)->create_instance(factory, class_id, v3_component_iid, &object) != V3_OK ||
      object == nullptr) {
    std::fprintf(stderr, "the factory did not create the component\n");
    return false;
  }
  instance->component = static_cast<v3_component**>(object);
  if (v3_cpp_obj_initialize(instance->component, HostContext()) != V3_OK) {
    std::fprintf(stderr, "the component did not initialize\n");
    return false;
  }
  instance->initialized = true;
  if (v3_cpp_obj_query_interface(instance->component, v3_audio_processor_iid,
                                 &instance->processor) != V3_OK ||
      instance->processor == nullptr) {
    std::fprintf(stderr, "the component has no audio processor\n");
    return false;
  }
  if (v3_cpp_obj_query_interface(instance->component, v3_edit_controller_iid,
                                 &instance->controller) == V3_OK &&
      instance->controller != nullptr)
    return true;
  instance->controller = nullptr;
  v3_tuid controller_id;
  object = nullptr;
  if (v3_cpp_obj(instance->component)
              ->get_controller_class_id(instance->component, controller_id) != V3_OK ||
      v3_cpp_obj(factory)->create_instance(factory, controller_id, v3_edit_controller_iid,
                                           &object) != V3_OK ||
      object == nullptr) {
    std::fprintf(stderr, "the plug-in has no edit controller\n");
    return false;
  }
  instance->controller = static_cast<v3_edit_controller**>(object);
  instance->separate_controller = true;
  if (v3_cpp_obj_initialize(instance->controller, HostContext()) != V3_OK) {
    std::fprintf(stderr, "the edit controller did not initialize\n");
    return false;
  }
  return true;
}

void LoadState(const Instance& instance, const std::vector<uint8_t>& bytes) {
  MemoryStream stream{&kMemoryStreamVtable, bytes};
  if (v3_cpp_obj(instance.component)->set_state(instance.component, AsStream(&stream)) != V3_OK)
    std::fprintf(stderr, "the component refused the state\n");
  stream.position = 0;
  if (v3_cpp_obj(instance.controller)
          ->set_component_state(instance.controller, AsStream(&stream)) != V3_OK)
    std::fprintf(stderr, "the edit controller refused the state\n");
}

// Events and --params give settings as plugin/Controls.h does; VST3
// numbers a list's entries from 0.
double FirstEntry(v3_param_id id) {
  if (id >= tonevolt::kTrackerControlCount || !tonevolt::kControls[id].Stepped()) return 0.0;
  return tonevolt::kControls[id].min;
}

void PrintParams(v3_edit_controller** controller) {
  auto* calls = v3_cpp_obj(controller);
  const int32_t count = calls->get_parameter_count(controller);
  for (int32_t i = 0; i < count; ++i) {
    v3_param_info info;
    std::memset(&info, 0, sizeof info);
    if (calls->get_parameter_info(controller, i, &info) != V3_OK) continue;
    const v3_param_id id = info.param_id;
    auto plain = [&](double normalized) {
      return calls->normalised_parameter_to_plain(controller, id, normalized) + FirstEntry(id);
    };
    std::printf("%" PRIu32 "\t%s\t%.9g\t%.9g\t%.9g\t%.9g\n", id,
                Utf16ToAscii(info.title, 128).c_str(), plain(0.0), plain(1.0),
                plain(info.default_normalised_value),
                plain(calls->get_parameter_normalised(controller, id)));
  }
  std::fflush(stdout);
}

// Renders in blocks of random lengths, each event sent in its block at its
// sample. Exits on a plug-in that leaves the thread's FP state changed.
bool Render(v3_audio_processor** processor, const std::vector<Event>& events,
            const Options& options, int32_t output_buses, std::vector<float>* in,
            std::vector<float>* pitch, std::vector<float>* gate, int* failure) {
  BlockLengths lengths(options.seed);
  const size_t total = in->size();
  size_t next_event = 0;
  for (size_t done = 0, block = 0; done < total; ++block) {
    const size_t length = std::min<size_t>(lengths.Next(), total - done);
    const uint32_t host_mxcsr = kHostMxcsr[block % (sizeof kHostMxcsr / sizeof kHostMxcsr[0])];
    ParameterChanges changes{&kParameterChangesVtable, {}};
    for (; next_event < events.size() && events[next_event].at < done + length; ++next_event) {
      const Event& event = events[next_event];
      if (event.at < done) continue;
      changes.QueueOf(event.id)->points.emplace_back(static_cast<int32_t>(event.at - done),
                                                     event.normalized);
    }
    float* in_channel = in->data() + done;
    float* out_channels[2] = {pitch->data() + done, gate->data() + done};
    v3_audio_bus_buffers input{};
    input.num_channels = 1;
    input.channel_buffers_32 = &in_channel;
    v3_audio_bus_buffers outputs[2] = {};
    for (int32_t bus = 0; bus < output_buses; ++bus) {
      outputs[bus].num_channels = 1;
      outputs[bus].channel_buffers_32 = &out_channels[bus];
    }
    v3_process_data data{};
    data.process_mode = V3_REALTIME;
    data.symbolic_sample_size = V3_SAMPLE_32;
    data.nframes = static_cast<int32_t>(length);
    data.num_input_buses = 1;
    data.num_output_buses = output_buses;
    data.inputs = &input;
    data.outputs = outputs;
    v3_param_changes** input_params = reinterpret_cast<v3_param_changes**>(&changes);
    data.input_params = input_params;
    // A playing transport: each block says where it is on the timeline.
    v3_process_context context{};
    if (options.playing) {
      context.state = V3_PROCESS_CTX_PLAYING | V3_PROCESS_CTX_PROJECT_TIME_VALID;
      context.sample_rate = options.rate;
      context.project_time_in_samples = options.timeline + static_cast<int64_t>(done);
      data.ctx = &context;
    }

    const uint16_t x87_before = X87ControlWord();
    _mm_setcsr(host_mxcsr);
    const v3_result result = v3_cpp_obj(processor)->process(processor, &data);
    const uint32_t mxcsr_after = _mm_getcsr();
    const uint16_t x87_after = X87ControlWord();
    _mm_setcsr(kDefaultMxcsr);
    if (mxcsr_after != host_mxcsr) {
      std::fprintf(stderr, "process left MXCSR 0x%04" PRIX32 ", was given 0x%04" PRIX32 "\n",
                   mxcsr_after, host_mxcsr);
      *failure = kExitFpState;
      return false;
    }
#if !defined(_WIN32)
    if (x87_after != x87_before) {
      std::fprintf(stderr, "process left the x87 control word 0x%04X, was 0x%04X\n", x87_after,
                   x87_before);
      *failure = kExitFpState;
      return false;
    }
#else
    (void)x87_before;
    (void)x87_after;
#endif
    if (result != V3_OK) {
      std::fprintf(stderr, "process failed (%d)\n", static_cast<int>(result));
      *failure = kExitPlugin;
      return false;
    }
    done += length;
  }
  return true;
}

// What the files give the plug-in, and what it gives back.
struct Job {
  std::vector<float> in;
  std::vector<Event> events;
  std::vector<uint8_t> state;  // to load, when asked
};
struct Results {
  std::vector<float> pitch, gate;
  bool has_gate = false;
  std::vector<uint8_t> state;  // saved, when asked
};

// One instance from creation to release, as a DAW runs it.
int RunInstance(const Options& options, v3_plugin_factory** factory, Job* job, Results* results) {
  v3_tuid class_id;
  if (!FindClass(factory, options.tracker, class_id)) return kExitPlugin;
  Instance instance;
  if (!Create(factory, class_id, &instance)) return kExitPlugin;
  v3_component** component = instance.component;
  v3_audio_processor** processor = instance.processor;
  v3_edit_controller** controller = instance.controller;

  if (!options.load_state_path.empty()) LoadState(instance, job->state);
  if (options.params) PrintParams(controller);
  for (Event& event : job->events)
    event.normalized = v3_cpp_obj(controller)
                           ->plain_parameter_to_normalised(controller, event.id,
                                                           event.value - FirstEntry(event.id));

  const int32_t input_buses = v3_cpp_obj(component)->get_bus_count(component, V3_AUDIO, V3_INPUT);
  const int32_t output_buses = v3_cpp_obj(component)->get_bus_count(component, V3_AUDIO, V3_OUTPUT);
  if (input_buses != 1 || output_buses < 1 || output_buses > 2) {
    std::fprintf(stderr, "unexpected buses: %d in, %d out\n", static_cast<int>(input_buses),
                 static_cast<int>(output_buses));
    return kExitPlugin;
  }
  results->has_gate = output_buses == 2;
  v3_speaker_arrangement mono_in[1] = {V3_SPEAKER_M};
  v3_speaker_arrangement mono_out[2] = {V3_SPEAKER_M, V3_SPEAKER_M};
  if (v3_cpp_obj(processor)->set_bus_arrangements(processor, mono_in, 1, mono_out, output_buses) !=
      V3_OK) {
    std::fprintf(stderr, "the plug-in refused mono buses\n");
    return kExitPlugin;
  }
  v3_cpp_obj(component)->activate_bus(component, V3_AUDIO, V3_INPUT, 0, 1);
  for (int32_t bus = 0; bus < output_buses; ++bus)
    v3_cpp_obj(component)->activate_bus(component, V3_AUDIO, V3_OUTPUT, bus, 1);
  if (v3_cpp_obj(processor)->can_process_sample_size(processor, V3_SAMPLE_32) != V3_OK) {
    std::fprintf(stderr, "the plug-in cannot process 32-bit samples\n");
    return kExitPlugin;
  }
  v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, kMaxBlock, options.rate};
  if (v3_cpp_obj(processor)->setup_processing(processor, &setup) != V3_OK ||
      v3_cpp_obj(component)->set_active(component, 1) != V3_OK) {
    std::fprintf(stderr, "the plug-in did not activate\n");
    return kExitPlugin;
  }
  std::fprintf(stderr, "latency %" PRIu32 "\n",
               v3_cpp_obj(processor)->get_latency_samples(processor));
  v3_cpp_obj(processor)->set_processing(processor, 1);
  results->pitch.assign(job->in.size(), 0.0f);
  results->gate.assign(job->in.size(), 0.0f);
  int failure = 0;
  const bool rendered = Render(processor, job->events, options, output_buses, &job->in,
                               &results->pitch, &results->gate, &failure);
  v3_cpp_obj(processor)->set_processing(processor, 0);
  v3_cpp_obj(component)->set_active(component, 0);
  if (!rendered) return failure;

  if (!options.save_state_path.empty()) {
    MemoryStream stream{&kMemoryStreamVtable, {}};
    if (v3_cpp_obj(component)->get_state(component, AsStream(&stream)) != V3_OK) {
      std::fprintf(stderr, "the component did not save its state\n");
      return kExitPlugin;
    }
    results->state = stream.bytes;
  }
  return 0;
}

int Run(const Options& options) {
  Job job;
  std::vector<uint8_t> in_bytes;
  if (!ReadFile(options.in_path, &in_bytes) || in_bytes.size() % sizeof(float) != 0) {
    std::fprintf(stderr, "cannot read %s as float32 samples\n", options.in_path.c_str());
    return kExitIo;
  }
  job.in.resize(in_bytes.size() / sizeof(float));
  if (!in_bytes.empty()) std::memcpy(job.in.data(), in_bytes.data(), in_bytes.size());
  if (!options.events_path.empty()) {
    std::vector<uint8_t> text;
    if (!ReadFile(options.events_path, &text)) {
      std::fprintf(stderr, "cannot read %s\n", options.events_path.c_str());
      return kExitIo;
    }
    if (!ParseEvents(text, &job.events)) return kExitUsage;
  }
  if (!options.load_state_path.empty() && !ReadFile(options.load_state_path, &job.state)) {
    std::fprintf(stderr, "cannot read %s\n", options.load_state_path.c_str());
    return kExitIo;
  }

  Results results;
  {
    Module module;
    if (!module.Load(options.plugin_path)) return kExitPlugin;
    v3_plugin_factory** factory = module.Factory();
    if (factory == nullptr) return kExitPlugin;
    const int failure = RunInstance(options, factory, &job, &results);
    Release(factory);
    if (failure != 0) return failure;
  }

  _mm_setcsr(kDefaultMxcsr);
  const bool written =
      WriteFile(options.pitch_path, results.pitch.data(), results.pitch.size() * sizeof(float)) &&
      (options.gate_path.empty() || !results.has_gate ||
       WriteFile(options.gate_path, results.gate.data(), results.gate.size() * sizeof(float))) &&
      (options.save_state_path.empty() ||
       WriteFile(options.save_state_path, results.state.data(), results.state.size()));
  if (!written) {
    std::fprintf(stderr, "cannot write the outputs\n");
    return kExitIo;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  // --params prints the same bytes as on Linux: no CR before each LF.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return kExitUsage;
  }
  return Run(options);
}
