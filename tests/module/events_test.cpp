// Event queue and block splitting, seen by a host through the probe module:
// every routine call, pin notification and data event comes back as a host
// callback, so the order of pieces and events is visible exactly.
#include <cstdio>
#include <string>
#include <vector>

#include "ModuleFixture.h"
#include "ProbeModule.h"

namespace {

// One line per callback the probe made, in order.
std::vector<std::string> Trace(const wbhost::HostState& host) {
  std::vector<std::string> lines;
  char line[96];
  for (const wbhost::HostCall& c : host.calls) {
    switch (c.opcode) {
      case PROBE_ROUTINE_A:
      case PROBE_ROUTINE_B:
        std::snprintf(line, sizeof line, "%s %d+%d @%u", c.opcode == PROBE_ROUTINE_A ? "A" : "B",
                      c.index, c.value, c.pointer);
        break;
      case PROBE_PIN_CHANGE:
        std::snprintf(line, sizeof line, "pin %d s%d v%u @%u", c.index, c.value, c.pointer,
                      static_cast<uint32_t>(c.opt));
        break;
      case PROBE_DATA_EVENT:
        std::snprintf(line, sizeof line, "data %d %d ts%u @%u", c.index, c.value, c.pointer,
                      static_cast<uint32_t>(c.opt));
        break;
      default:
        std::snprintf(line, sizeof line, "host %d %d %d %u %d", c.opcode, c.index, c.value,
                      c.pointer, c.opt);
        break;
    }
    lines.push_back(line);
  }
  return lines;
}

// One thing a host does to an opened instance.
struct Step {
  enum Kind { kQueue, kProcess, kResume } kind;
  uint32_t a;  // queue: time stamp; process: buffer offset; resume: host clock
  int32_t b;   // queue: event type; process: sample count
  int32_t value_1 = 0;
  int32_t value_2 = 0;
  int32_t data = 0;
};

// A streaming pin change: the trace shows the value the pin stored.
Step Pin(uint32_t time_stamp, int32_t pin, int32_t value) {
  return {Step::kQueue, time_stamp, EVENT_PIN_STATUS, STATUS_STREAMING, value, pin};
}
Step Event(uint32_t time_stamp, int32_t type, int32_t value_1, int32_t value_2, int32_t data) {
  return {Step::kQueue, time_stamp, type, value_1, value_2, data};
}
Step Process(uint32_t offset, int32_t count) { return {Step::kProcess, offset, count}; }
Step Resume(uint32_t host_clock) { return {Step::kResume, host_clock, 0}; }

struct BlockCase {
  const char* name;
  uint32_t open_clock;  // the host's clock at open
  std::vector<Step> steps;
  std::vector<std::string> trace;  // expected callbacks after open
};

// Expected traces follow the splitting rule by hand: a routine call for the
// samples before each due event, the event at its own clock, the clock
// advanced piece by piece. Pin 0 is a 16-bit list pin, so "v" is the value.
const BlockCase kBlockCases[] = {
    {"NothingQueuedIsOneCall", 0, {Process(5, 64), Process(0, 1)}, {"A 5+64 @0", "A 0+1 @64"}},
    {"TwoEventsCutTheBlockInThree",
     100,
     {Pin(110, 0, 1), Pin(130, 0, 2), Process(0, 64), Process(0, 1)},
     {"A 0+10 @100", "pin 0 s2 v1 @110", "A 10+20 @110", "pin 0 s2 v2 @130", "A 30+34 @130",
      "A 0+1 @164"}},
    {"EventAtTheClockComesBeforeAnySample",
     100,
     {Pin(100, 0, 7), Process(3, 8)},
     {"pin 0 s2 v7 @100", "A 3+8 @100"}},
    {"EventAtTheBlockEndWaitsForTheNextBlock",
     0,
     {Pin(16, 0, 1), Process(0, 16), Process(16, 4)},
     {"A 0+16 @0", "pin 0 s2 v1 @16", "A 16+4 @16"}},
    {"EqualStampsInQueueOrderWithNoCallBetween",
     0,
     {Pin(8, 0, 1), Pin(8, 0, 2), Pin(8, 0, 3), Process(0, 16)},
     {"A 0+8 @0", "pin 0 s2 v1 @8", "pin 0 s2 v2 @8", "pin 0 s2 v3 @8", "A 8+8 @8"}},
    // Queued out of order: in front of the head, behind an equal tail, into
    // the middle, behind an equal head, then appended again.
    {"OutOfOrderStampsAreSorted",
     0,
     {Pin(30, 0, 1), Pin(10, 0, 2), Pin(30, 0, 3), Pin(20, 0, 4), Pin(10, 0, 5), Pin(40, 0, 6),
      Process(0, 64)},
     {"A 0+10 @0", "pin 0 s2 v2 @10", "pin 0 s2 v5 @10", "A 10+10 @10", "pin 0 s2 v4 @20",
      "A 20+10 @20", "pin 0 s2 v1 @30", "pin 0 s2 v3 @30", "A 30+10 @30", "pin 0 s2 v6 @40",
      "A 40+24 @40"}},
    {"QueueRefilledAfterItDrained",
     0,
     {Pin(5, 0, 1), Process(0, 10), Pin(12, 0, 2), Pin(11, 0, 3), Process(0, 10)},
     {"A 0+5 @0", "pin 0 s2 v1 @5", "A 5+5 @5", "A 0+1 @10", "pin 0 s2 v3 @11", "A 1+1 @11",
      "pin 0 s2 v2 @12", "A 2+8 @12"}},
    {"ResumeMovesOverdueEventsToTheHostClock",
     400,
     {Pin(490, 0, 1), Pin(600, 0, 2), Resume(500), Process(0, 128)},
     {"host 3 0 0 0 0", "pin 0 s2 v1 @500", "A 0+100 @500", "pin 0 s2 v2 @600", "A 100+28 @600"}},
    {"ResumeBackwardsLeavesLaterEvents",
     400,
     {Pin(450, 0, 1), Resume(300), Process(0, 200)},
     {"host 3 0 0 0 0", "A 0+150 @300", "pin 0 s2 v1 @450", "A 150+50 @450"}},
    // Type 1 and 4 are not events the module knows: removed, block still cut.
    {"UnknownEventTypesAreDropped",
     0,
     {Event(10, 1, STATUS_STREAMING, 7, 0), Event(20, 4, STATUS_STREAMING, 7, 0), Process(0, 32)},
     {"A 0+10 @0", "A 10+10 @10", "A 20+12 @20"}},
    // value_2 0x7FFF8001: low 16 bits 0x8001 are the short -32767.
    {"DataEventGetsTheLow16BitsOfValue2",
     0,
     {Event(12, EVENT_DATA, 0x12345678, 0x7FFF8001, 0), Process(0, 16)},
     {"A 0+12 @0", "data 305419896 -32767 ts12 @12", "A 12+4 @12"}},
    {"PinChangeInstallingARoutineSwitchesFromItsSample",
     0,
     {Pin(20, kProbeSwitchPin, 0), Process(0, 32), Process(32, 8)},
     {"A 0+20 @0", "pin 5 s2 v0 @20", "B 20+12 @20", "B 32+8 @32"}},
    // 0x80000000 is negative as a signed word: only an unsigned compare
    // keeps it after 0x7FFFFFF0.
    {"StampsCompareUnsignedAcrossTheSignBit",
     0x7FFFFFF0u,
     {Pin(0x80000000u, 0, 1), Process(0, 32)},
     {"A 0+16 @2147483632", "pin 0 s2 v1 @2147483648", "A 16+16 @2147483648"}},
    {"EventsJustBelowTheTopOfTheClock",
     0xFFFFFF00u,
     {Pin(0xFFFFFFFEu, 0, 1), Process(0, 255)},
     {"A 0+254 @4294967040", "pin 0 s2 v1 @4294967294", "A 254+1 @4294967294"}},
    {"ClockWrapsWithinABlock",
     0xFFFFFFF0u,
     {Process(0, 32), Process(32, 1)},
     {"A 0+32 @4294967280", "A 32+1 @16"}},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.name; }

class BlockSplitting : public ProbeTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(BlockSplitting, RoutineCallsAndEventsInOrder) {
  const BlockCase& c = GetParam();
  ASSERT_NE(m_main, nullptr);
  wbhost::Instance instance;
  ASSERT_TRUE(instance.Create(m_main));
  instance.Host().sample_clock = c.open_clock;
  instance.Open();
  instance.Host().calls.clear();
  for (const Step& step : c.steps) {
    switch (step.kind) {
      case Step::kQueue: {
        WbEvent event = {step.a,
                         step.b,
                         step.value_1,
                         step.value_2,
                         reinterpret_cast<void*>(static_cast<intptr_t>(step.data)),
                         nullptr};
        instance.AddEvent(event);
        break;
      }
      case Step::kProcess:
        instance.Process(static_cast<int32_t>(step.a), step.b);
        break;
      case Step::kResume:
        instance.Host().sample_clock = step.a;
        instance.Resume();
        break;
    }
  }
  EXPECT_EQ(Trace(instance.Host()), c.trace);
  EXPECT_TRUE(instance.QueueEmpty());
}

INSTANTIATE_TEST_SUITE_P(Probe, BlockSplitting, ::testing::ValuesIn(kBlockCases),
                         [](const ::testing::TestParamInfo<BlockCase>& info) {
                           return std::string(info.param.name);
                         });

class ProbeEvents : public ProbeTest {
 protected:
  void SetUp() override {
    ASSERT_NE(m_main, nullptr);
    ASSERT_TRUE(m_instance.Create(m_main));
    m_instance.Open();
    m_instance.Host().calls.clear();
  }
  wbhost::Instance m_instance;
};

TEST_F(ProbeEvents, QueueEmptyWhileAnEventWaitsFarAhead) {
  EXPECT_TRUE(m_instance.QueueEmpty());
  m_instance.AddPinEvent(1000000, 0, STATUS_STREAMING, 1);
  EXPECT_FALSE(m_instance.QueueEmpty());
  m_instance.Process(0, 64);
  EXPECT_FALSE(m_instance.QueueEmpty());
  EXPECT_EQ(Trace(m_instance.Host()), std::vector<std::string>{"A 0+64 @0"});
}

// The host's record is copied: changing or reusing it after queueing does
// not reach the queued event.
TEST_F(ProbeEvents, QueuedEventIsACopyOfTheHostRecord) {
  WbEvent event = {10, EVENT_PIN_STATUS, STATUS_STREAMING, 4, nullptr, nullptr};
  m_instance.AddEvent(event);
  event.value_2 = 9;
  event.time_stamp = 12;
  event.next = &event;  // the host's link is never followed
  m_instance.AddEvent(event);
  m_instance.Process(0, 16);
  EXPECT_EQ(Trace(m_instance.Host()),
            (std::vector<std::string>{"A 0+10 @0", "pin 0 s2 v4 @10", "A 10+2 @10",
                                      "pin 0 s2 v9 @12", "A 12+4 @12"}));
}

// A block that carries the clock across its wrap to 0 still stops at an
// event stamped just below the top.
TEST(ProbeWrap, WrappingBlockReachesAnEventStampedBeforeTheWrap) {
  WBMainProc main = testing_support::LoadMain("ProbeModule");
  ASSERT_NE(main, nullptr);
  wbhost::Instance instance;
  ASSERT_TRUE(instance.Create(main));
  instance.Host().sample_clock = 0xFFFFFFF0u;
  instance.Open();
  instance.Host().calls.clear();
  instance.AddPinEvent(0xFFFFFFF8u, 0, STATUS_STREAMING, 1);
  instance.Process(0, 32);
  instance.Process(32, 1);
  EXPECT_EQ(Trace(instance.Host()),
            (std::vector<std::string>{"A 0+8 @4294967280", "pin 0 s2 v1 @4294967288",
                                      "A 8+24 @4294967288", "A 32+1 @16"}));
  EXPECT_TRUE(instance.QueueEmpty());
}

struct DeferredProbe {
  WBModule_record* record;
  wbhost::HostState* host;
  int calls = 0;
  uint32_t clock = 0;       // the module's clock during the call
  size_t calls_before = 0;  // host callbacks seen before it ran
};

void WB_CALL RunDeferred(void* argument) {
  DeferredProbe* probe = static_cast<DeferredProbe*>(argument);
  ++probe->calls;
  probe->clock = ProbeQuery(probe->record).sample_clock;
  probe->calls_before = probe->host->calls.size();
}

TEST_F(ProbeEvents, DeferredCallRunsOnceAtItsSample) {
  DeferredProbe probe{m_instance.Record(), &m_instance.Host()};
  // The module releases the record with its own delete.
  DeferredCall* call = new DeferredCall{&probe, &RunDeferred};
  WbEvent event = {10, EVENT_DEFERRED_CALL, 0, 0, call, nullptr};
  m_instance.AddEvent(event);
  m_instance.Process(0, 32);
  m_instance.Process(32, 32);
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(probe.clock, 10u);
  EXPECT_EQ(probe.calls_before, 1u);  // after the first piece, before the second
  EXPECT_EQ(Trace(m_instance.Host()),
            (std::vector<std::string>{"A 0+10 @0", "A 10+22 @10", "A 32+32 @32"}));
}

// Nothing to see from outside: memcheck reports a leak if these stay.
TEST_F(ProbeEvents, EventsStillQueuedAtCloseAreReleased) {
  for (uint32_t stamp : {5u, 1u, 9u, 9u}) m_instance.AddPinEvent(stamp, 0, STATUS_STREAMING, 1);
  EXPECT_FALSE(m_instance.QueueEmpty());
  EXPECT_EQ(m_instance.Close(), 1);
}

}  // namespace
