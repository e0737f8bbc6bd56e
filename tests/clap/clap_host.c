/* A CLAP host for the tests: renders a raw float32 file through one of the
 * plug-ins of a .clap file in random block lengths, with setting changes at
 * their samples, under a DAW's floating-point state, which every process
 * call must give back. The command line is every render host's (Usage()). */
#include <clap/entry.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/latency.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <xmmintrin.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#endif

const char* TonevoltClapId(int tracker); /* PluginIds.cpp */

enum { kExitUsage = 2, kExitPlugin = 3, kExitFpState = 4, kExitIo = 5 };
enum { kMaxBlock = 4096 };
/* Streams move at most this many bytes a call, as a host's may. */
enum { kStreamChunk = 5 };
/* A DAW's audio thread, block by block in turn: every exception masked,
   flush-to-zero and denormals-are-zero on, or one of them with another
   rounding, or flags left raised. The plug-in gives each back exactly. */
static const unsigned kDawMxcsr[] = {0x9FC0, 0xDFC0, 0x3FC0, 0xFF80, 0x9FE1};

static void Usage(void) {
  fprintf(stderr,
          "usage: tonevolt_clap_host PLUGIN_PATH plain|tracker RATE SEED IN.f32 PITCH.f32\n"
          "         [--gate GATE.f32] [--events EVENTS.txt] [--load-state FILE]\n"
          "         [--save-state FILE] [--params] [--timeline SAMPLE]\n"
          "EVENTS.txt: lines 'AT ID VALUE' sorted by AT (sample, control id, plain value)\n");
  exit(kExitUsage);
}

static void Die(int code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
  exit(code);
}

/* A file's bytes, or what a stream has written. */
typedef struct {
  uint8_t* data;
  size_t size, capacity, read_at;
} Bytes;

static void Reserve(Bytes* bytes, size_t size) {
  if (size <= bytes->capacity) return;
  bytes->capacity = size > 2 * bytes->capacity ? size : 2 * bytes->capacity;
  bytes->data = realloc(bytes->data, bytes->capacity);
  if (bytes->data == NULL) Die(kExitIo, "out of memory");
}

/* Followed by a 0 byte, not counted, so that text can be parsed in place. */
static Bytes ReadWhole(const char* path) {
  Bytes bytes = {0};
  FILE* file = fopen(path, "rb");
  if (file == NULL) Die(kExitIo, "cannot open %s", path);
  for (;;) {
    Reserve(&bytes, bytes.size + 65536);
    const size_t read = fread(bytes.data + bytes.size, 1, bytes.capacity - bytes.size - 1, file);
    if (read == 0) break;
    bytes.size += read;
  }
  if (ferror(file)) Die(kExitIo, "cannot read %s", path);
  fclose(file);
  bytes.data[bytes.size] = 0;
  return bytes;
}

static void WriteWhole(const char* path, const void* data, size_t size) {
  FILE* file = fopen(path, "wb");
  if (file == NULL || fwrite(data, 1, size, file) != size || fclose(file) != 0)
    Die(kExitIo, "cannot write %s", path);
}

static int64_t StreamRead(const clap_istream_t* stream, void* buffer, uint64_t size) {
  Bytes* bytes = stream->ctx;
  uint64_t count = bytes->size - bytes->read_at;
  if (count > size) count = size;
  if (count > kStreamChunk) count = kStreamChunk;
  memcpy(buffer, bytes->data + bytes->read_at, count);
  bytes->read_at += count;
  return (int64_t)count;
}

static int64_t StreamWrite(const clap_ostream_t* stream, const void* buffer, uint64_t size) {
  Bytes* bytes = stream->ctx;
  const uint64_t count = size < kStreamChunk ? size : kStreamChunk;
  Reserve(bytes, bytes->size + count);
  memcpy(bytes->data + bytes->size, buffer, count);
  bytes->size += count;
  return (int64_t)count;
}

/* A setting's change at a sample of the input. */
typedef struct {
  uint64_t at;
  clap_event_param_value_t event;
} Event;

typedef struct {
  Event* events;
  size_t count;
} Events;

static Events ReadEvents(const char* path) {
  Bytes text = ReadWhole(path);
  size_t lines = 1;
  for (size_t i = 0; i < text.size; ++i) lines += text.data[i] == '\n';
  Events list = {malloc(lines * sizeof(Event)), 0};
  if (list.events == NULL) Die(kExitIo, "out of memory");
  char* line = (char*)text.data;
  for (int number = 1; *line != 0; ++number) {
    char* next = line + strcspn(line, "\n");
    if (*next != 0) *next++ = 0;
    if (line[strspn(line, " \t\r")] != 0) {
      char *id_text, *value_text, *end;
      const unsigned long long at = strtoull(line, &id_text, 10);
      const unsigned long long id = strtoull(id_text, &value_text, 10);
      const double value = strtod(value_text, &end);
      end += strspn(end, " \t\r");
      if (id_text == line || value_text == id_text || end == value_text || *end != 0 ||
          id > UINT32_MAX)
        Die(kExitUsage, "%s:%d: expected AT ID VALUE", path, number);
      if (list.count > 0 && at < list.events[list.count - 1].at)
        Die(kExitUsage, "%s:%d: events must be sorted by AT", path, number);
      Event* event = &list.events[list.count++];
      memset(event, 0, sizeof *event);
      event->at = at;
      event->event.header.size = sizeof event->event;
      event->event.header.space_id = CLAP_CORE_EVENT_SPACE_ID;
      event->event.header.type = CLAP_EVENT_PARAM_VALUE;
      event->event.param_id = (clap_id)id;
      event->event.note_id = -1;
      event->event.port_index = -1;
      event->event.channel = -1;
      event->event.key = -1;
      event->event.value = value;
    }
    line = next;
  }
  free(text.data);
  return list;
}

/* The events of one block. */
static uint32_t EventsSize(const clap_input_events_t* list) {
  return (uint32_t)((const Events*)list->ctx)->count;
}

static const clap_event_header_t* EventsGet(const clap_input_events_t* list, uint32_t index) {
  const Events* events = list->ctx;
  return index < events->count ? &events->events[index].event.header : NULL;
}

static bool DiscardEvent(const clap_output_events_t* list, const clap_event_header_t* event) {
  (void)list;
  (void)event;
  return true;
}

static const void* HostGetExtension(const clap_host_t* host, const char* id) {
  (void)host;
  (void)id;
  return NULL;
}

static void HostRequest(const clap_host_t* host) { (void)host; }

static const clap_host_t kHost = {
    CLAP_VERSION_INIT, NULL,        "Tonevolt test host", "Tonevolt tests", "", "1",
    HostGetExtension,  HostRequest, HostRequest,          HostRequest};

static unsigned short X87ControlWord(void) {
  unsigned short word;
  __asm__ __volatile__("fnstcw %0" : "=m"(word));
  return word;
}

static const clap_plugin_entry_t* LoadEntry(const char* path) {
#ifdef _WIN32
  HMODULE library = LoadLibraryA(path);
  return library != NULL
             ? (const clap_plugin_entry_t*)(uintptr_t)GetProcAddress(library, "clap_entry")
             : NULL;
#else
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  return library != NULL ? dlsym(library, "clap_entry") : NULL;
#endif
}

static const void* Extension(const clap_plugin_t* plugin, const char* id) {
  const void* extension = plugin->get_extension(plugin, id);
  if (extension == NULL) Die(kExitPlugin, "the plug-in lacks %s", id);
  return extension;
}

int main(int argc, char** argv) {
  if (argc < 7) Usage();
  const char* plugin_path = argv[1];
  const char* in_path = argv[5];
  const char* pitch_path = argv[6];
  const char *gate_path = NULL, *events_path = NULL, *load_path = NULL, *save_path = NULL;
  bool print_params = false;
  /* --timeline: the transport plays, the input's first sample at SAMPLE. */
  const char* timeline_text = NULL;
  for (int i = 7; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (strcmp(argv[i], "--gate") == 0 && has_value) {
      gate_path = argv[++i];
    } else if (strcmp(argv[i], "--events") == 0 && has_value) {
      events_path = argv[++i];
    } else if (strcmp(argv[i], "--load-state") == 0 && has_value) {
      load_path = argv[++i];
    } else if (strcmp(argv[i], "--save-state") == 0 && has_value) {
      save_path = argv[++i];
    } else if (strcmp(argv[i], "--timeline") == 0 && has_value) {
      timeline_text = argv[++i];
    } else if (strcmp(argv[i], "--params") == 0) {
      print_params = true;
    } else {
      Usage();
    }
  }
  const bool tracker = strcmp(argv[2], "tracker") == 0;
  if (!tracker && strcmp(argv[2], "plain") != 0) Usage();
  char* end;
  const double rate = strtod(argv[3], &end);
  if (*end != 0 || !(rate > 0 && rate < 1e7)) Usage();
  const unsigned long long seed = strtoull(argv[4], &end, 10);
  if (*end != 0 || argv[4][0] == '-' || seed > UINT32_MAX) Usage();
  const long long timeline = timeline_text != NULL ? strtoll(timeline_text, &end, 10) : 0;
  if (timeline_text != NULL && *end != 0) Usage();
#ifdef _WIN32
  /* The same --params bytes as on Linux. */
  _setmode(_fileno(stdout), _O_BINARY);
#endif

  Bytes input = ReadWhole(in_path);
  if (input.size % sizeof(float) != 0) Die(kExitIo, "%s is not float32 samples", in_path);
  const size_t count = input.size / sizeof(float);
  Events events = {0};
  if (events_path != NULL) events = ReadEvents(events_path);

  const clap_plugin_entry_t* entry = LoadEntry(plugin_path);
  if (entry == NULL || !clap_version_is_compatible(entry->clap_version) ||
      !entry->init(plugin_path))
    Die(kExitPlugin, "cannot load %s", plugin_path);
  const clap_plugin_factory_t* factory = entry->get_factory(CLAP_PLUGIN_FACTORY_ID);
  const clap_plugin_t* plugin =
      factory != NULL ? factory->create_plugin(factory, &kHost, TonevoltClapId(tracker)) : NULL;
  if (plugin == NULL || !plugin->init(plugin))
    Die(kExitPlugin, "cannot create %s", TonevoltClapId(tracker));
  const clap_plugin_audio_ports_t* ports = Extension(plugin, CLAP_EXT_AUDIO_PORTS);
  const uint32_t output_count = ports->count(plugin, false);
  if (output_count < 1 || output_count > 2) Die(kExitPlugin, "%u outputs", output_count);
  if (gate_path != NULL && output_count < 2) Die(kExitUsage, "this plug-in has no gate output");

  if (load_path != NULL) {
    Bytes saved = ReadWhole(load_path);
    const clap_istream_t stream = {&saved, StreamRead};
    const clap_plugin_state_t* state = Extension(plugin, CLAP_EXT_STATE);
    if (!state->load(plugin, &stream)) fprintf(stderr, "the plug-in refused %s\n", load_path);
    free(saved.data);
  }
  if (print_params) {
    const clap_plugin_params_t* params = Extension(plugin, CLAP_EXT_PARAMS);
    for (uint32_t i = 0; i < params->count(plugin); ++i) {
      clap_param_info_t info;
      double value;
      if (!params->get_info(plugin, i, &info) || !params->get_value(plugin, info.id, &value))
        Die(kExitPlugin, "cannot read parameter %u", i);
      printf("%u\t%s\t%.9g\t%.9g\t%.9g\t%.9g\n", info.id, info.name, info.min_value, info.max_value,
             info.default_value, value);
    }
    fflush(stdout);
  }

  if (!plugin->activate(plugin, rate, 1, kMaxBlock) || !plugin->start_processing(plugin))
    Die(kExitPlugin, "cannot activate at %g Hz", rate);
  const clap_plugin_latency_t* latency = Extension(plugin, CLAP_EXT_LATENCY);
  fprintf(stderr, "latency %u\n", latency->get(plugin));

  float* samples = (float*)input.data;
  float* pitch = calloc(count + 1, sizeof(float));
  float* gate = calloc(count + 1, sizeof(float));
  if (pitch == NULL || gate == NULL) Die(kExitIo, "out of memory");
  Events block_events = {events.events, 0};
  const clap_input_events_t in_events = {&block_events, EventsSize, EventsGet};
  const clap_output_events_t out_events = {NULL, DiscardEvent};
  const unsigned default_mxcsr = _mm_getcsr();
  uint32_t random = (uint32_t)seed;
  size_t next_event = 0;
  for (size_t start = 0, block = 0; start < count; ++block) {
    random = random * 1664525u + 1013904223u;
    uint32_t length = 1 + (random >> 16) % kMaxBlock;
    if (length > count - start) length = (uint32_t)(count - start);
    block_events.events = events.events + next_event;
    block_events.count = 0;
    for (; next_event < events.count && events.events[next_event].at < start + length;
         ++next_event, ++block_events.count)
      events.events[next_event].event.header.time =
          (uint32_t)(events.events[next_event].at - start);
    /* Every other block in place: the pitch shares the input's buffer. */
    float* in = samples + start;
    if (block % 2 == 1) in = memcpy(pitch + start, in, length * sizeof(float));
    float* in_channels[1] = {in};
    float* pitch_channels[1] = {pitch + start};
    float* gate_channels[1] = {gate + start};
    clap_audio_buffer_t inputs[1] = {{in_channels, NULL, 1, 0, 0}};
    clap_audio_buffer_t outputs[2] = {{pitch_channels, NULL, 1, 0, 0},
                                      {gate_channels, NULL, 1, 0, 0}};
    /* A playing transport: each block says where it is on the timeline. */
    clap_event_transport_t transport;
    memset(&transport, 0, sizeof transport);
    transport.header = (clap_event_header_t){sizeof transport, 0, CLAP_CORE_EVENT_SPACE_ID,
                                             CLAP_EVENT_TRANSPORT, 0};
    transport.flags = CLAP_TRANSPORT_IS_PLAYING | CLAP_TRANSPORT_HAS_SECONDS_TIMELINE;
    transport.song_pos_seconds =
        llround((double)(timeline + (long long)start) / rate * (double)CLAP_SECTIME_FACTOR);
    const clap_process_t process = {
        (int64_t)start, length,     timeline_text != NULL ? &transport : NULL,
        inputs,         outputs,    1,
        output_count,   &in_events, &out_events};

    const unsigned daw_mxcsr = kDawMxcsr[block % (sizeof kDawMxcsr / sizeof kDawMxcsr[0])];
    _mm_setcsr(daw_mxcsr);
    const unsigned short x87 = X87ControlWord();
    const clap_process_status status = plugin->process(plugin, &process);
    const unsigned mxcsr_after = _mm_getcsr();
    const unsigned short x87_after = X87ControlWord();
    _mm_setcsr(default_mxcsr);
    if (mxcsr_after != daw_mxcsr) Die(kExitFpState, "MXCSR %#x after process", mxcsr_after);
#ifndef _WIN32
    if (x87_after != x87) Die(kExitFpState, "x87 control word %#x after process", x87_after);
#else
    (void)x87;
    (void)x87_after;
#endif
    if (status == CLAP_PROCESS_ERROR) Die(kExitPlugin, "process failed");
    start += length;
  }
  plugin->stop_processing(plugin);

  if (save_path != NULL) {
    Bytes saved = {0};
    const clap_ostream_t stream = {&saved, StreamWrite};
    const clap_plugin_state_t* state = Extension(plugin, CLAP_EXT_STATE);
    if (!state->save(plugin, &stream)) Die(kExitPlugin, "the plug-in saved no state");
    WriteWhole(save_path, saved.data, saved.size);
    free(saved.data);
  }
  plugin->deactivate(plugin);
  plugin->destroy(plugin);
  entry->deinit();

  WriteWhole(pitch_path, pitch, count * sizeof(float));
  if (gate_path != NULL) WriteWhole(gate_path, gate, count * sizeof(float));
  free(pitch);
  free(gate);
  free(input.data);
  free(events.events);
  return 0;
}
