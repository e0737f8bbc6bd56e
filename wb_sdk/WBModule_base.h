// The plug-in interface: the record the host holds, the three boundary
// function types, the opcodes, pins, events and the module base class.
//
// Every value that crosses the boundary is a 32-bit little-endian word, so
// this interface only builds for 32-bit x86 (Linux i386 or Win32).
#pragma once

#include <cstddef>
#include <cstdint>

#if !defined(__i386__) && !defined(_M_IX86)
#error "The plug-in boundary is 32-bit x86: build with g++ -m32 or i686-w64-mingw32-g++."
#endif
static_assert(sizeof(void*) == 4, "The plug-in boundary is 32-bit: pointers must be 4 bytes.");

// Calling convention of every boundary function: the C default (cdecl).
#define WB_CALL __attribute__((cdecl))

#if defined(_WIN32)
#define WB_EXPORT  // the library's .def file exports it as main
#else
#define WB_EXPORT __attribute__((visibility("default")))
#endif

struct WBModule_record;
class WBModule_base;
class WBPin;

// The host's callback. pointer also carries plain 32-bit integers where the
// opcode says so (the sample clock of HOST_PIN_STATUS); opt is always 0.
typedef int32_t(WB_CALL* WBHostCallback)(WBModule_record* record, int32_t opcode, int32_t index,
                                         int32_t value, void* pointer, int32_t opt);
// Commands and queries from the host; opt carries the sample rate for opcode 2.
typedef int32_t(WB_CALL* WBDispatchProc)(WBModule_record* record, int32_t opcode, int32_t index,
                                         int32_t value, void* pointer, float opt);
// Processes sample_count samples starting at element buffer_offset of the pin buffers.
typedef void(WB_CALL* WBProcessProc)(WBModule_record* record, int32_t buffer_offset,
                                     int32_t sample_count);

constexpr uint32_t WB_RECORD_MAGIC = 0x5742507B;  // bytes in memory "{PBW"

// The record handed to the host by main. Cleared to zero, then the module
// sets magic, dispatcher, object, the 1 at offset 40 and process. The module
// reads nothing back but object; the other fields are the host's.
struct WBModule_record {
  uint32_t magic;             // WB_RECORD_MAGIC; set at construction, never changed
  WBDispatchProc dispatcher;  // the dispatcher entry; valid until DISPATCH_CLOSE returns
  uint32_t reserved_8[3];     // zero
  uint32_t reserved_20;       // zero
  uint32_t reserved_24;       // zero
  uint32_t reserved_28;       // zero
  WBModule_base* object;      // the owning module; opaque to the host
  uint32_t reserved_36;       // zero
  uint32_t flag_40;           // always 1; its meaning is the host's
  WBProcessProc process;      // the process entry; only after DISPATCH_OPEN
  uint32_t reserved_48[15];   // zero
};
static_assert(sizeof(WBModule_record) == 108, "record is 108 bytes");
static_assert(offsetof(WBModule_record, magic) == 0, "magic at 0");
static_assert(offsetof(WBModule_record, dispatcher) == 4, "dispatcher at 4");
static_assert(offsetof(WBModule_record, reserved_8) == 8, "zero field at 8");
static_assert(offsetof(WBModule_record, reserved_20) == 20, "zero field at 20");
static_assert(offsetof(WBModule_record, reserved_24) == 24, "zero field at 24");
static_assert(offsetof(WBModule_record, reserved_28) == 28, "zero field at 28");
static_assert(offsetof(WBModule_record, object) == 32, "object at 32");
static_assert(offsetof(WBModule_record, reserved_36) == 36, "zero field at 36");
static_assert(offsetof(WBModule_record, flag_40) == 40, "flag at 40");
static_assert(offsetof(WBModule_record, process) == 44, "process at 44");
static_assert(offsetof(WBModule_record, reserved_48) == 48, "zero tail at 48");

// The exported entry point, named "main" in the library's export table.
// Creates one instance per call; answers null if it cannot be created.
typedef WBModule_record*(WB_CALL* WBMainProc)(int32_t reserved, WBHostCallback host_callback);

// Dispatcher opcodes.
enum : int32_t {
  DISPATCH_OPEN = 0,
  DISPATCH_CLOSE = 1,
  DISPATCH_SET_SAMPLE_RATE = 2,  // opt: rate in Hz
  DISPATCH_SET_BLOCK_SIZE = 3,   // value: samples
  DISPATCH_QUERY_4 = 4,
  DISPATCH_QUERY_5 = 5,
  DISPATCH_GET_PIN_PROPERTIES = 6,  // index, pointer: PinProperties
  DISPATCH_ADD_EVENT = 7,           // pointer: WbEvent
  DISPATCH_RESUME = 8,
  DISPATCH_GET_MODULE_PROPERTIES = 9,  // pointer: ModuleProperties
  DISPATCH_QUEUE_EMPTY = 10,
};

// Host callback opcodes the module uses.
enum : int32_t {
  HOST_PIN_STATUS = 0,         // index: pin, value: status, pointer: sample clock
  HOST_FORWARD_PIN_VALUE = 2,  // index: pin, value: new value
  HOST_GET_SAMPLE_CLOCK = 3,   // answer: the host's sample clock
  HOST_REQUEST_SLEEP = 10,
  HOST_GET_PIN_COUNT = 14,  // answer: pins the host holds for this instance
};

// Pin directions, as reported in PinProperties.
enum : int32_t { DIR_INPUT = 0, DIR_OUTPUT = 1, DIR_SETTING = 3 };

// Pin data types: what a new value does to the pin's variable.
enum : int32_t {
  TYPE_ENUM = 0,        // 16-bit list index
  TYPE_HOST_VALUE = 1,  // forwarded to the host, variable untouched
  TYPE_BOOL = 4,        // one byte, 0 or 1
  TYPE_AUDIO = 5,       // pointer to the sample buffer, written by the host
  TYPE_FLOAT = 6,       // 32-bit float, value carries its bit pattern
};

// Pin status values.
enum : int32_t { STATUS_STATIC = 0, STATUS_ONE_SHOT = 1, STATUS_STREAMING = 2 };

// Event types.
enum : int32_t { EVENT_PIN_STATUS = 0, EVENT_DATA = 2, EVENT_DEFERRED_CALL = 3 };

// Host-owned description of the module (opcode 9). The host may make the
// record longer; the module writes these three fields only.
struct ModuleProperties {
  const char* name;   // module name
  const char* id;     // unique type identifier
  const char* about;  // free text, line-feed separated
};
static_assert(sizeof(ModuleProperties) == 12, "three pointers");

// Host-owned description of one pin (opcode 6). The module writes these
// fields; extra is not written for audio pins.
struct PinProperties {
  void* variable;     // the module variable the pin drives (audio: slot for the buffer address)
  int32_t direction;  // DIR_*
  int32_t data_type;  // TYPE_*
  const char* name;   // label shown by the host
  const char* default_value;  // default as text
  const char* extra;          // list entries or float range as text
};
static_assert(sizeof(PinProperties) == 24, "six words");
static_assert(offsetof(PinProperties, variable) == 0, "variable at 0");
static_assert(offsetof(PinProperties, direction) == 4, "direction at 4");
static_assert(offsetof(PinProperties, data_type) == 8, "data type at 8");
static_assert(offsetof(PinProperties, name) == 12, "name at 12");
static_assert(offsetof(PinProperties, default_value) == 16, "default at 16");
static_assert(offsetof(PinProperties, extra) == 20, "extra at 20");

// A function and its argument, carried by an EVENT_DEFERRED_CALL. Allocated
// with the module's operator new; the module deletes it after the call.
struct DeferredCall {
  void* argument;                           // passed unchanged to function
  void(WB_CALL* function)(void* argument);  // called once, at the event's sample
};
static_assert(sizeof(DeferredCall) == 8, "two words");

// A time-stamped event. The host queues its own copy by DISPATCH_ADD_EVENT;
// the module reads the first five fields and ignores next.
struct WbEvent {
  uint32_t time_stamp;  // sample clock at which the event takes effect
  int32_t event_type;   // EVENT_*
  int32_t value_1;      // pin status, or the first data value
  int32_t value_2;      // pin value (a float as its bit pattern); data: low 16 bits
  void* data;           // pin index, or DeferredCall address
  WbEvent* next;        // the module's own list link; ignored in the host's record
};
static_assert(sizeof(WbEvent) == 24, "event is 24 bytes");
static_assert(offsetof(WbEvent, time_stamp) == 0, "time stamp at 0");
static_assert(offsetof(WbEvent, event_type) == 4, "type at 4");
static_assert(offsetof(WbEvent, value_1) == 8, "value_1 at 8");
static_assert(offsetof(WbEvent, value_2) == 12, "value_2 at 12");
static_assert(offsetof(WbEvent, data) == 16, "data at 16");
static_assert(offsetof(WbEvent, next) == 20, "next at 20");

// One pin of an instance: ties a pin index to a module variable and a type.
class WBPin {
 public:
  WBPin() = default;
  virtual ~WBPin() = default;

  void Init(WBModule_base* module, int32_t index, int32_t data_type, void* variable);
  int32_t Status() const { return m_status; }
  // Records the status, writes or forwards the value, notifies the module,
  // then lets a one-shot status fall back to static.
  void ApplyStatusChange(int32_t status, int32_t value);
  // Tells the host this pin's status from time_stamp on; own status untouched.
  void TransmitStatusChange(uint32_t time_stamp, int32_t status);

  void* m_variable = nullptr;
  WBModule_base* m_module = nullptr;
  int32_t m_index = 0;
  int32_t m_status = STATUS_STATIC;
  int32_t m_data_type = 0;
};

// The base of every module. Not copyable: the host holds the address of
// m_record, which must stay put for the object's whole life.
class WBModule_base {
 public:
  typedef void (WBModule_base::*ProcessRoutine)(int32_t buffer_offset, int32_t sample_count);

  explicit WBModule_base(WBHostCallback host_callback);
  WBModule_base(const WBModule_base&) = delete;
  WBModule_base& operator=(const WBModule_base&) = delete;

  virtual void OnPinStatusChange(WBPin* pin);
  virtual ~WBModule_base();
  virtual void ProcessBlock(int32_t buffer_offset, int32_t sample_frames);
  virtual int32_t Dispatch(int32_t opcode, int32_t index, int32_t value, void* pointer, float opt);
  virtual void OnOpen();
  virtual void OnClose();
  virtual void Reserved6();
  virtual void SetSampleRate(float rate);
  virtual void SetBlockSize(int32_t size);
  virtual float SampleRate();
  virtual int32_t BlockSize();
  virtual void ApplyEvent(WbEvent* e);
  virtual bool DescribeModule(ModuleProperties* properties);
  virtual bool DescribePin(int32_t index, PinProperties* properties);
  virtual bool Query5(void* pointer);
  virtual bool Query4(void* pointer);
  virtual void ResyncClock();
  virtual void OnDataEvent(uint32_t time_stamp, int32_t value, int16_t short_value);

  int32_t CallHost(int32_t opcode, int32_t index, int32_t value, void* pointer, int32_t opt);
  WBPin* Pin(int32_t index);
  void QueueEvent(const WbEvent* p_event);
  uint32_t SampleClock() const { return m_sample_clock; }

  WBModule_record* Record() { return &m_record; }

  WBHostCallback m_host_callback;
  WBModule_record m_record;
  float m_sample_rate = 44100.0f;
  int32_t m_block_size = 1024;
  WBPin* m_pins = nullptr;
  int32_t m_pin_count = 0;  // elements in m_pins; pin events beyond it are dropped
  uint32_t m_sample_clock = 0;
  ProcessRoutine m_process_routine = &WBModule_base::ProcessNothing;
  WbEvent* m_events = nullptr;
  WbEvent* m_last_event = nullptr;  // tail of m_events, for appending in O(1)
  // Applied event nodes kept for reuse, so that queueing an event costs no
  // allocation once the instance has seen as many pending at once; released
  // with the instance.
  WbEvent* m_free_events = nullptr;

 private:
  void ProcessNothing(int32_t, int32_t) {}
  void ReleasePins();
  void ReleaseEvents();
};

// Provided by the module: creates one instance, or answers null. Must not throw.
WBModule_base* WBCreateModule(WBHostCallback host_callback);
