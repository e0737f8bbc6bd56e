// What the probe module tells its host, shared by the probe and the tests.
#pragma once

#include <cstdint>

// Host callback opcodes the probe uses to report, beyond the SDK's own.
enum : int32_t {
  PROBE_ROUTINE_A = 100,   // index: buffer offset, value: count, pointer: clock
  PROBE_ROUTINE_B = 101,   // the same, from the routine a pin-5 change installs
  PROBE_PIN_CHANGE = 102,  // index: pin, value: its status while notified
  PROBE_DATA_EVENT = 103,  // index: value, value: short value, pointer: time stamp
};

constexpr int32_t kProbePinCount = 6;      // enum, host value, bool, audio, float, unknown
constexpr int32_t kProbeUnknownType = 9;   // a data type code outside the table
constexpr int32_t kProbeSwitchPin = 5;     // a change here installs routine B

// Passed by pointer with DISPATCH_QUERY_4.
struct ProbeControl {
  int32_t set_described;   // >= 0: describe this many pins from now on
  int32_t describe_calls;  // out: DescribePin calls so far, answered or not
  int32_t pin_count;       // out: pins built at the latest open
  uint32_t* variables;     // out: the probe's pin variables, one word each
};
