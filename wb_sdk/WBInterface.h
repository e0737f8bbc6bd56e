// The plug-in boundary as a host sees it: the record main hands out, the
// three function types, the opcodes, the description records and the event
// record. A host includes only this header; what lies behind the record's
// object field is the module's own.
//
// The synthesizer is a 32-bit x86 program: there every value that crosses
// the boundary is a 32-bit little-endian word and the records below have the
// fixed layout asserted under each of them. The same header also builds for
// x86-64, where the records take their natural layout (pointers of 8 bytes,
// asserted too): the command-line tool and the tests drive a native build of
// the module through it, with the same entries, opcodes and values.
//
// The host's obligations, which the module checks with always-on assertions:
// - no process call and no pin event before DISPATCH_OPEN;
// - every process call covers at least one sample;
// - no event is stamped before the module's sample clock.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__i386__) || defined(_M_IX86)
#define WB_BOUNDARY_32 1
static_assert(sizeof(void*) == 4, "i386: pointers are 4 bytes");
// Calling convention of every boundary function: the C default (cdecl).
#define WB_CALL __attribute__((cdecl))
#elif defined(__x86_64__) || defined(_M_X64)
#define WB_BOUNDARY_32 0
static_assert(sizeof(void*) == 8, "x86-64: pointers are 8 bytes");
// The platform's one C calling convention.
#define WB_CALL
#else
#error "The plug-in boundary is x86: i386 for the synthesizer, x86-64 for native tools."
#endif

// Layout checks: every record's size and each field's offset, on i386 (the
// synthesizer's fixed layout) and on x86-64 (the natural one).
#define WB_SIZE(record, bytes_i386, bytes_x86_64)                               \
  static_assert(sizeof(record) == (WB_BOUNDARY_32 ? bytes_i386 : bytes_x86_64), \
                #record " is " #bytes_i386 " bytes on i386, " #bytes_x86_64 " on x86-64")
#define WB_AT(record, field, at_i386, at_x86_64)                                   \
  static_assert(offsetof(record, field) == (WB_BOUNDARY_32 ? at_i386 : at_x86_64), \
                #record "::" #field " at " #at_i386 " on i386, " #at_x86_64 " on x86-64")

struct WBModule_record;

// The host's callback, called by the module on the thread of the call that
// caused it (open, an event applied while processing, a sleep request at the
// end of a piece). pointer also carries plain 32-bit integers where the
// opcode says so (the sample clock of HOST_PIN_STATUS); opt is always 0. The
// host may pass a null callback: the module then asks nothing.
typedef int32_t(WB_CALL* WBHostCallback)(WBModule_record* record, int32_t opcode, int32_t index,
                                         int32_t value, void* pointer, int32_t opt);

// Commands and queries from the host, one call at a time per instance.
// - Before open: DISPATCH_SET_SAMPLE_RATE and DISPATCH_SET_BLOCK_SIZE (read at
//   open), DISPATCH_GET_MODULE_PROPERTIES, DISPATCH_GET_PIN_PROPERTIES.
// - Any time: DISPATCH_OPEN (again: pins are rebuilt, state kept), the two
//   queries above, DISPATCH_ADD_EVENT, DISPATCH_QUEUE_EMPTY, DISPATCH_CLOSE
//   (last: the record is gone when it returns).
// - After open, from the processing thread between process calls:
//   DISPATCH_RESUME.
// opt carries the sample rate for opcode 2 and is ignored otherwise.
typedef int32_t(WB_CALL* WBDispatchProc)(WBModule_record* record, int32_t opcode, int32_t index,
                                         int32_t value, void* pointer, float opt);

// Processes sample_count samples starting at element buffer_offset of the
// buffers whose addresses the host wrote into the audio pins. Only after
// DISPATCH_OPEN, from the processing thread, with sample_count >= 1; the
// module's sample clock advances by sample_count.
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
  void* object;               // the module's instance; opaque, never to be touched by the host
  uint32_t reserved_36;       // zero
  uint32_t flag_40;           // always 1; its meaning is the host's
  WBProcessProc process;      // the process entry; only after DISPATCH_OPEN
  uint32_t reserved_48[15];   // zero
};
WB_SIZE(WBModule_record, 108, 128);
WB_AT(WBModule_record, magic, 0, 0);
WB_AT(WBModule_record, dispatcher, 4, 8);
WB_AT(WBModule_record, reserved_8, 8, 16);
WB_AT(WBModule_record, reserved_20, 20, 28);
WB_AT(WBModule_record, reserved_24, 24, 32);
WB_AT(WBModule_record, reserved_28, 28, 36);
WB_AT(WBModule_record, object, 32, 40);
WB_AT(WBModule_record, reserved_36, 36, 48);
WB_AT(WBModule_record, flag_40, 40, 52);
WB_AT(WBModule_record, process, 44, 56);
WB_AT(WBModule_record, reserved_48, 48, 64);

// The exported entry point, named "main" in the library's export table.
// Creates one instance per call, from any thread; answers null if it cannot
// be created. The instance lives until DISPATCH_CLOSE.
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
  const char* name;   // module name; the module's string, never freed
  const char* id;     // unique type identifier; the module's string
  const char* about;  // free text, line-feed separated; the module's string
};
WB_SIZE(ModuleProperties, 12, 24);
WB_AT(ModuleProperties, name, 0, 0);
WB_AT(ModuleProperties, id, 4, 8);
WB_AT(ModuleProperties, about, 8, 16);

// Host-owned description of one pin (opcode 6). The module writes these
// fields; extra is not written for audio pins.
struct PinProperties {
  void* variable;     // the module variable the pin drives (audio: slot for the buffer address)
  int32_t direction;  // DIR_*
  int32_t data_type;  // TYPE_*
  const char* name;   // label shown by the host; the module's string
  const char* default_value;  // default as text; the module's string
  const char* extra;          // list entries or float range as text; the module's string
};
WB_SIZE(PinProperties, 24, 40);
WB_AT(PinProperties, variable, 0, 0);
WB_AT(PinProperties, direction, 4, 8);
WB_AT(PinProperties, data_type, 8, 12);
WB_AT(PinProperties, name, 12, 16);
WB_AT(PinProperties, default_value, 16, 24);
WB_AT(PinProperties, extra, 20, 32);

// A function and its argument, carried by an EVENT_DEFERRED_CALL. Allocated
// with the module's operator new; the module deletes it after the call, or
// at close if the event is still queued.
struct DeferredCall {
  void* argument;                           // passed unchanged to function
  void(WB_CALL* function)(void* argument);  // called once, at the event's sample; may be null
};
WB_SIZE(DeferredCall, 8, 16);
WB_AT(DeferredCall, argument, 0, 0);
WB_AT(DeferredCall, function, 4, 8);

// A time-stamped event. The host queues its own copy by DISPATCH_ADD_EVENT
// and may reuse its record as soon as the call returns; the module reads the
// first five fields and ignores next.
struct WbEvent {
  uint32_t time_stamp;  // sample clock at which the event takes effect; not before the module's
  int32_t event_type;   // EVENT_*
  int32_t value_1;      // pin status, or the first data value
  int32_t value_2;      // pin value (a float as its bit pattern); data: low 16 bits
  void* data;           // pin index, or DeferredCall address
  WbEvent* next;        // the module's own list link; ignored in the host's record
};
WB_SIZE(WbEvent, 24, 32);
WB_AT(WbEvent, time_stamp, 0, 0);
WB_AT(WbEvent, event_type, 4, 4);
WB_AT(WbEvent, value_1, 8, 8);
WB_AT(WbEvent, value_2, 12, 12);
WB_AT(WbEvent, data, 16, 16);
WB_AT(WbEvent, next, 20, 24);
