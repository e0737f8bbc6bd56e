// Pins as the SDK builds and drives them, seen through the probe module
// (pins: enum, host value, bool, audio, float, unknown type 9) and through
// Tonevolt's own output pin report.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ModuleFixture.h"
#include "ProbeModule.h"

namespace {

constexpr int32_t kProbeTypes[kProbePinCount] = {TYPE_ENUM,  TYPE_HOST_VALUE, TYPE_BOOL,
                                                 TYPE_AUDIO, TYPE_FLOAT,      kProbeUnknownType};

class ProbePins : public ProbeTest {
 protected:
  void SetUp() override {
    ASSERT_NE(m_main, nullptr);
    ASSERT_TRUE(m_instance.Create(m_main));
  }
  ProbeControl Query() { return ProbeQuery(m_instance.Record()); }
  ProbeControl Command(int32_t command, int32_t pin, int32_t value, uint32_t clock = 0) {
    ProbeControl control{};
    control.set_described = -1;
    control.command = command;
    control.command_pin = pin;
    control.command_value = value;
    control.command_clock = clock;
    return ProbeQuery(m_instance.Record(), control);
  }
  void Describe(int32_t count) {
    ProbeControl control{};
    control.set_described = count;
    ProbeQuery(m_instance.Record(), control);
  }
  void OpenWithHostPins(int32_t host_pins) {
    m_instance.Host().pin_count = host_pins;
    m_instance.Open();
    m_instance.Host().calls.clear();
  }
  wbhost::Instance m_instance;
};

// Pin count at open: the module's own count N, raised to the host's count
// when that is larger (a signed comparison); surplus pins copy the last
// described pin. DescribePin runs 2N + 3 times, but only twice when N is 0.
struct PinCountCase {
  int32_t described;
  int32_t host_pins;
  int32_t pins;
  int32_t describe_calls;
};
constexpr PinCountCase kPinCounts[] = {
    {6, 0, 6, 15}, {6, 3, 6, 15}, {6, 6, 6, 15}, {6, -5, 6, 15}, {6, 8, 8, 15},
    {2, 4, 4, 7},  {1, 0, 1, 5},  {0, 8, 0, 2},  {0, 0, 0, 2},
};

TEST_F(ProbePins, PinCountAndBindingAtOpen) {
  for (const PinCountCase& c : kPinCounts) {
    SCOPED_TRACE("described " + std::to_string(c.described) + ", host " +
                 std::to_string(c.host_pins));
    wbhost::Instance instance;
    ASSERT_TRUE(instance.Create(m_main));
    ProbeControl control{};
    control.set_described = c.described;
    const int32_t calls_before = ProbeQuery(instance.Record(), control).describe_calls;
    instance.Host().pin_count = c.host_pins;
    instance.Open();
    const ProbeControl after = ProbeQuery(instance.Record());
    EXPECT_EQ(after.describe_calls - calls_before, c.describe_calls);
    ASSERT_EQ(after.pin_count, c.pins);
    EXPECT_EQ(after.has_pins, 1);
    for (int32_t i = 0; i < c.pins; ++i) {
      const int32_t bound = i < c.described ? i : c.described - 1;
      EXPECT_EQ(after.pins[i].index, i);
      EXPECT_EQ(after.pins[i].variable, &after.variables[bound]) << "pin " << i;
      EXPECT_EQ(after.pins[i].data_type, kProbeTypes[bound]) << "pin " << i;
      EXPECT_EQ(after.pins[i].status, STATUS_STATIC);
    }
  }
}

TEST_F(ProbePins, NoHostCallbackMeansTheModulesOwnCount) {
  wbhost::Instance instance;
  ASSERT_TRUE(instance.Create(m_main, /*with_callback=*/false));
  instance.Open();
  EXPECT_EQ(ProbeQuery(instance.Record()).pin_count, kProbePinCount);
}

// Surplus pins drive the last pin's variable with its type: made a float
// pin here, so a change on surplus pin 7 is seen in pin 5's variable.
TEST_F(ProbePins, SurplusPinDrivesTheLastPinsVariable) {
  Command(PROBE_COMMAND_SET_PIN_TYPE, 5, TYPE_FLOAT);
  OpenWithHostPins(8);
  m_instance.AddPinFloatEvent(0, 7, STATUS_STREAMING, 2.5f);
  m_instance.Process(0, 1);
  const ProbeControl after = Query();
  float value;
  std::memcpy(&value, &after.variables[5], sizeof value);
  EXPECT_EQ(value, 2.5f);
  EXPECT_EQ(after.pins[7].status, STATUS_STREAMING);
  EXPECT_EQ(after.pins[5].status, STATUS_STATIC);
  const auto changes = m_instance.Host().CallsWith(PROBE_PIN_CHANGE);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].index, 7);
}

// What one streaming change does to each data type. The variable starts at
// kFill; "after" is its word once the change is applied (little-endian:
// the low 16 bits of an enum and the byte of a bool are its first bytes).
constexpr uint32_t kFill = 0xAAAAAAAAu;
struct TypeCase {
  int32_t pin;
  int32_t value;
  uint32_t after;
  bool forwarded;  // HOST_FORWARD_PIN_VALUE with the pin and the value
};
constexpr TypeCase kTypeCases[] = {
    {0, 0x00010002, 0xAAAA0002u, false},  // enum: low 16 bits only
    {0, -1, 0xAAAAFFFFu, false},
    {1, 77, kFill, true},  // host value: forwarded, not written
    {1, -3, kFill, true},
    {2, 5, 0xAAAAAA01u, false},      // bool: 1 for any non-zero value
    {2, 0x100, 0xAAAAAA01u, false},  // non-zero with a zero low byte
    {2, 0, 0xAAAAAA00u, false},
    {3, 1234, kFill, false},              // audio: the host writes the buffer address
    {4, 0x459C4000, 0x459C4000u, false},  // float: the bits of 5000.0f
    {5, 1234, kFill, false},              // unknown type 9: nothing written
};

TEST_F(ProbePins, EachDataTypeOnAChange) {
  OpenWithHostPins(0);
  uint32_t* variables = Query().variables;
  uint32_t clock = 0;
  for (const TypeCase& c : kTypeCases) {
    SCOPED_TRACE("pin " + std::to_string(c.pin) + " value " + std::to_string(c.value));
    for (int32_t i = 0; i < kProbePinCount; ++i) variables[i] = kFill;
    m_instance.Host().calls.clear();
    m_instance.AddPinEvent(clock, c.pin, STATUS_STREAMING, c.value);
    m_instance.Process(0, 1);
    ++clock;
    for (int32_t i = 0; i < kProbePinCount; ++i) {
      EXPECT_EQ(variables[i], i == c.pin ? c.after : kFill) << "variable " << i;
    }
    std::vector<wbhost::HostCall> expected;
    if (c.forwarded) expected.push_back({HOST_FORWARD_PIN_VALUE, c.pin, c.value, 0, 0});
    // Notified with the new status and the new value already in place.
    expected.push_back(
        {PROBE_PIN_CHANGE, c.pin, STATUS_STREAMING, c.after, static_cast<int32_t>(clock - 1)});
    std::vector<wbhost::HostCall> seen;
    for (const wbhost::HostCall& call : m_instance.Host().calls) {
      if (call.opcode != PROBE_ROUTINE_A && call.opcode != PROBE_ROUTINE_B) seen.push_back(call);
    }
    ASSERT_EQ(seen.size(), expected.size());
    for (size_t i = 0; i < seen.size(); ++i) {
      EXPECT_EQ(seen[i].opcode, expected[i].opcode);
      EXPECT_EQ(seen[i].index, expected[i].index);
      EXPECT_EQ(seen[i].value, expected[i].value);
      EXPECT_EQ(seen[i].pointer, expected[i].pointer);
      EXPECT_EQ(seen[i].opt, expected[i].opt);
    }
    EXPECT_EQ(Query().pins[c.pin].status, STATUS_STREAMING);
  }
}

// The status seen during the notification, and the status kept after it.
TEST_F(ProbePins, StatusDuringAndAfterTheChange) {
  struct {
    int32_t status;
    int32_t kept;
  } const cases[] = {{STATUS_ONE_SHOT, STATUS_STATIC},
                     {STATUS_STREAMING, STATUS_STREAMING},
                     {STATUS_STATIC, STATUS_STATIC}};
  OpenWithHostPins(0);
  uint32_t clock = 0;
  for (const auto& c : cases) {
    m_instance.Host().calls.clear();
    m_instance.AddPinEvent(clock++, 2, c.status, 1);
    m_instance.Process(0, 1);
    const auto changes = m_instance.Host().CallsWith(PROBE_PIN_CHANGE);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].value, c.status);
    EXPECT_EQ(Query().pins[2].status, c.kept) << "status " << c.status;
  }
}

// Nothing is compared with the pin's previous state: the same change twice
// writes twice (the host's overwrite in between is undone) and notifies twice.
TEST_F(ProbePins, SameChangeTwiceWritesAndNotifiesTwice) {
  OpenWithHostPins(0);
  uint32_t* variables = Query().variables;
  m_instance.AddPinEvent(0, 0, STATUS_STREAMING, 2);
  m_instance.Process(0, 1);
  EXPECT_EQ(variables[0], 2u);
  variables[0] = 9;
  m_instance.AddPinEvent(1, 0, STATUS_STREAMING, 2);
  m_instance.Process(0, 1);
  EXPECT_EQ(variables[0], 2u);
  EXPECT_EQ(m_instance.Host().CallsWith(PROBE_PIN_CHANGE).size(), 2u);
}

// Events naming a pin the instance lacks are removed without any effect.
TEST_F(ProbePins, EventsForMissingPinsAreDropped) {
  struct {
    int32_t host_pins;
    int32_t pin;
  } const cases[] = {{0, 6}, {0, -1}, {0, INT32_MIN}, {0, INT32_MAX}, {8, 8}, {8, -2}};
  for (const auto& c : cases) {
    SCOPED_TRACE("host pins " + std::to_string(c.host_pins) + ", pin " + std::to_string(c.pin));
    wbhost::Instance instance;
    ASSERT_TRUE(instance.Create(m_main));
    instance.Host().pin_count = c.host_pins;
    instance.Open();
    instance.Host().calls.clear();
    uint32_t* variables = ProbeQuery(instance.Record()).variables;
    for (int32_t i = 0; i < kProbePinCount; ++i) variables[i] = kFill;
    instance.AddPinEvent(4, c.pin, STATUS_STREAMING, 1);
    instance.Process(0, 8);
    EXPECT_TRUE(instance.QueueEmpty());
    for (int32_t i = 0; i < kProbePinCount; ++i) EXPECT_EQ(variables[i], kFill);
    // Only the two pieces around the dropped event reach the host.
    ASSERT_EQ(instance.Host().calls.size(), 2u);
    EXPECT_EQ(instance.Host().calls[0].opcode, PROBE_ROUTINE_A);
    EXPECT_EQ(instance.Host().calls[1].opcode, PROBE_ROUTINE_A);
  }
}

// A module with no pins: a pin event finds the (empty) array and is dropped.
TEST_F(ProbePins, ModuleWithoutPinsDropsPinEvents) {
  Describe(0);
  OpenWithHostPins(8);
  m_instance.AddPinEvent(0, 0, STATUS_STREAMING, 1);
  m_instance.Process(0, 4);
  EXPECT_TRUE(m_instance.QueueEmpty());
  EXPECT_TRUE(m_instance.Host().CallsWith(PROBE_PIN_CHANGE).empty());
}

// A second open rebuilds the pins from scratch: new count, all static again.
// (The old array's release is checked by memcheck.)
TEST_F(ProbePins, SecondOpenBuildsFreshPins) {
  OpenWithHostPins(0);
  m_instance.AddPinEvent(0, 0, STATUS_STREAMING, 1);
  m_instance.AddPinEvent(0, 2, STATUS_STREAMING, 1);
  m_instance.Process(0, 1);
  ASSERT_EQ(Query().pins[2].status, STATUS_STREAMING);

  const int32_t calls_before = Query().describe_calls;
  OpenWithHostPins(7);
  const ProbeControl after = Query();
  EXPECT_EQ(after.describe_calls - calls_before, 15);
  ASSERT_EQ(after.pin_count, 7);
  for (int32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(after.pins[i].status, STATUS_STATIC) << "pin " << i;
    EXPECT_EQ(after.pins[i].index, i);
  }
  EXPECT_EQ(after.pins[6].variable, &after.variables[5]);
}

// Transmitting a status is one host call and leaves the pin's status alone.
TEST_F(ProbePins, TransmitStatusChangeIsOneHostCall) {
  OpenWithHostPins(0);
  m_instance.AddPinEvent(0, 3, STATUS_STREAMING, 0);
  m_instance.Process(0, 1);
  m_instance.Host().calls.clear();
  Command(PROBE_COMMAND_TRANSMIT, 3, STATUS_ONE_SHOT, 0xFEDCBA98u);
  const std::vector<wbhost::HostCall>& calls = m_instance.Host().calls;
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].opcode, HOST_PIN_STATUS);
  EXPECT_EQ(calls[0].index, 3);
  EXPECT_EQ(calls[0].value, STATUS_ONE_SHOT);
  EXPECT_EQ(calls[0].pointer, 0xFEDCBA98u);
  EXPECT_EQ(calls[0].opt, 0);
  EXPECT_EQ(Query().pins[3].status, STATUS_STREAMING);
}

// Tonevolt reports its output pin (3) on every pin change: one
// HOST_PIN_STATUS with the change's clock as the pointer word.
TEST_F(TonevoltTest, PinChangeReportsTheOutputStatusOnce) {
  ASSERT_NE(m_main, nullptr);
  wbhost::Instance instance;
  ASSERT_TRUE(instance.Create(m_main));
  instance.Host().sample_clock = 1000;
  instance.Open();
  float input[64] = {};
  float output[64] = {};
  instance.ConnectBuffer(0, input);
  instance.ConnectBuffer(3, output);
  instance.Host().calls.clear();
  instance.AddPinEvent(1010, 2, STATUS_STREAMING, 3);
  instance.Process(0, 64);
  const auto reports = instance.Host().CallsWith(HOST_PIN_STATUS);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].index, 3);
  EXPECT_EQ(reports[0].value, STATUS_STREAMING);
  EXPECT_EQ(reports[0].pointer, 1010u);
  EXPECT_EQ(reports[0].opt, 0);
}

}  // namespace
