// What the probe module tells its host, shared by the probe and the tests.
#pragma once

#include <cstdint>

#include "WBInterface.h"

// Host callback opcodes the probe uses to report, beyond the SDK's own.
enum : int32_t {
  PROBE_ROUTINE_A = 100,   // index: buffer offset, value: count, pointer: clock
  PROBE_ROUTINE_B = 101,   // the same, from the routine a pin-5 change installs
  PROBE_PIN_CHANGE = 102,  // index: pin, value: its status while notified,
                           // pointer: first word of its variable, opt: clock
  PROBE_DATA_EVENT = 103,  // index: value, value: short value, pointer: time stamp, opt: clock
};

constexpr int32_t kProbePinCount = 6;      // enum, host value, bool, audio, float, unknown
constexpr int32_t kProbeUnknownType = 9;   // a data type code outside the table
constexpr int32_t kProbeSwitchPin = 5;     // a change here installs routine B
constexpr int32_t kProbeMaxPinViews = 16;  // pins reported back through ProbeControl

// Commands carried by ProbeControl::command.
enum : int32_t {
  PROBE_COMMAND_NONE = 0,
  PROBE_COMMAND_TRANSMIT = 1,  // pin command_pin transmits status command_value at command_clock
  PROBE_COMMAND_SET_PIN_TYPE = 2,  // pin command_pin is described with data type command_value
};

// One built pin as the SDK holds it.
struct ProbePinView {
  void* variable;
  int32_t index;
  int32_t status;
  int32_t data_type;
};

// Passed by pointer with DISPATCH_QUERY_4. Zero-initialised fields beyond
// set_described ask for nothing.
struct ProbeControl {
  int32_t set_described;   // >= 0: describe this many pins from now on
  int32_t describe_calls;  // out: DescribePin calls so far, answered or not
  int32_t pin_count;       // out: pins built at the latest open
  uint32_t* variables;     // out: the probe's pin variables, one word each
  int32_t command;         // PROBE_COMMAND_*
  int32_t command_pin;
  int32_t command_value;
  uint32_t command_clock;
  uint32_t sample_clock;                 // out: the module's sample clock
  int32_t has_pins;                      // out: 1 once a pin array exists
  ProbePinView pins[kProbeMaxPinViews];  // out: the first pins built, up to pin_count
};

// Sends ProbeControl through the record's dispatcher and answers what came back.
inline ProbeControl ProbeQuery(WBModule_record* record, ProbeControl control) {
  record->dispatcher(record, DISPATCH_QUERY_4, 0, 0, &control, 0.0f);
  return control;
}

// Asks for nothing; reads back the counters and the built pins.
inline ProbeControl ProbeQuery(WBModule_record* record) {
  ProbeControl control{};
  control.set_described = -1;
  return ProbeQuery(record, control);
}
