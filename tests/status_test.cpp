// The output pin's status as reported to the host, and the sleep request
// that follows one host block after the inputs went quiet.
#include <cstdint>
#include <cstring>
#include <vector>

#include "ModuleFixture.h"
#include "TonevoltRig.h"

namespace {

// One opened instance fed with silence, as the host would run it.
class Rig {
 public:
  explicit Rig(WBMainProc main, uint32_t host_clock = 0, int32_t block_size = 0,
               bool with_callback = true)
      : m_clock(host_clock), m_input(kMaxBlock, 0.0f), m_output(kMaxBlock, -1.0f) {
    EXPECT_TRUE(m_instance.Create(main, with_callback));
    if (block_size > 0) m_instance.SetBlockSize(block_size);
    m_instance.Host().sample_clock = host_clock;
    m_instance.Open();
    m_instance.ConnectBuffer(kInput, m_input.data());
    m_instance.ConnectBuffer(kPitch, m_output.data());
  }

  void Status(uint32_t at, int32_t pin, int32_t status, int32_t value = 0) {
    m_instance.AddPinEvent(at, pin, status, value);
  }
  // An event of a type the module ignores: it only occupies the queue.
  void Placeholder(uint32_t at) {
    WbEvent event;
    std::memset(&event, 0, sizeof event);
    event.time_stamp = at;
    event.event_type = 1;
    m_instance.AddEvent(event);
  }
  // Processes one block; answers the sleep requests it brought.
  int32_t Run(int32_t length) {
    int32_t before = m_instance.Host().sleep_requests;
    m_instance.Process(0, length);
    m_clock += static_cast<uint32_t>(length);
    return m_instance.Host().sleep_requests - before;
  }
  // Reported output statuses as (status, clock) pairs.
  std::vector<std::pair<int32_t, uint32_t>> Reports() {
    std::vector<std::pair<int32_t, uint32_t>> reports;
    for (const wbhost::HostCall& call : Host().CallsWith(HOST_PIN_STATUS)) {
      EXPECT_EQ(call.index, kPitch);
      EXPECT_EQ(call.opt, 0);
      reports.push_back({call.value, call.pointer});
    }
    return reports;
  }

  uint32_t Clock() const { return m_clock; }
  wbhost::Instance& Instance() { return m_instance; }
  wbhost::HostState& Host() { return m_instance.Host(); }
  const std::vector<float>& Output() const { return m_output; }

  static constexpr int32_t kMaxBlock = 4096;

 private:
  wbhost::Instance m_instance;
  uint32_t m_clock;
  std::vector<float> m_input, m_output;
};

using Reports = std::vector<std::pair<int32_t, uint32_t>>;

// The countdown starts at the host's block size at the change and is
// checked after every piece: the piece that brings the samples since the
// change to the block size or more asks, and so does every later one.
TEST_F(TonevoltTest, StaticInputsAskToSleepAfterOneHostBlock) {
  struct Case {
    const char* what;
    int32_t block_size;  // 0: the default, 1024
    std::vector<int32_t> blocks;
    std::vector<int32_t> requests;  // sleep requests each block brings
  };
  const Case cases[] = {
      {"default block size", 0, {300, 300, 300, 123, 1, 1, 2000}, {0, 0, 0, 0, 1, 1, 1}},
      {"exactly one block", 0, {1024, 1, 1024}, {1, 1, 1}},
      {"host block size 256", 256, {255, 1, 1, 256}, {0, 1, 1, 1}},
      {"host block size 256, overshooting", 256, {200, 200, 10}, {0, 1, 1}},
      {"block size 1", 1, {1, 1, 5}, {1, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig(m_main, 0, c.block_size);
    rig.Status(0, kInput, STATUS_STATIC);
    std::vector<int32_t> requests;
    for (int32_t length : c.blocks) requests.push_back(rig.Run(length));
    EXPECT_EQ(requests, c.requests);
    EXPECT_EQ(rig.Reports(), (Reports{{STATUS_STATIC, 0}}));
    // Sleep requests carry nothing but their opcode.
    for (const wbhost::HostCall& call : rig.Host().CallsWith(HOST_REQUEST_SLEEP)) {
      EXPECT_EQ(call.index, 0);
      EXPECT_EQ(call.value, 0);
      EXPECT_EQ(call.pointer, 0u);
      EXPECT_EQ(call.opt, 0);
    }
  }
}

// Whatever is queued, however far ahead, holds the request back; the piece
// right after the queue empties brings it. The placeholder event changes no
// pin, so it leaves the countdown running.
TEST_F(TonevoltTest, QueuedEventHoldsTheSleepRequestBack) {
  Rig rig(m_main, 0, 256);
  rig.Status(0, kInput, STATUS_STATIC);
  rig.Placeholder(10000);
  int32_t requests = 0;
  while (rig.Clock() + 256 <= 10000) requests += rig.Run(256);
  EXPECT_EQ(requests, 0);
  EXPECT_FALSE(rig.Instance().QueueEmpty());
  EXPECT_EQ(rig.Run(256), 1);  // 9984..10239: cut at 10000, asks after it
  EXPECT_TRUE(rig.Instance().QueueEmpty());
  EXPECT_EQ(rig.Run(256), 1);
}

// A pin change, by contrast, restarts the countdown from the block size.
TEST_F(TonevoltTest, StatusChangeRestartsTheCountdown) {
  Rig rig(m_main, 0, 256);
  rig.Status(0, kInput, STATUS_STATIC);
  rig.Status(1000, kOctave, STATUS_STATIC, 4);
  std::vector<int32_t> requests;
  for (int i = 0; i < 6; ++i) requests.push_back(rig.Run(250));
  // Expired at 256, but the event at 1000 is queued until then; restarted
  // there, it expires again within 1250..1499.
  EXPECT_EQ(requests, (std::vector<int32_t>{0, 0, 0, 0, 0, 1}));
}

// The output streams when the input, the octave or the cutoff streams;
// otherwise it carries the input's status. "Freq Scale" and "Filter Order"
// do not count. Streaming output runs without a countdown.
TEST_F(TonevoltTest, OutputStatusFollowsInputOctaveAndCutoff) {
  struct Change {
    int32_t pin, status;
  };
  struct Case {
    std::vector<Change> changes;  // all at clock 0, in this order
    std::vector<int32_t> reported;
    bool sleeps;
  };
  const Case cases[] = {
      {{{kInput, STATUS_STREAMING}}, {2}, false},
      {{{kOctave, STATUS_STREAMING}}, {2}, false},
      {{{kCutoff, STATUS_STREAMING}}, {2}, false},
      {{{kFreqScale, STATUS_STREAMING}}, {0}, true},
      {{{kOrder, STATUS_STREAMING}}, {0}, true},
      {{{kInput, STATUS_ONE_SHOT}}, {1}, true},
      {{{kInput, STATUS_ONE_SHOT}, {kOctave, STATUS_STREAMING}}, {1, 2}, false},
      {{{kInput, STATUS_STREAMING}, {kInput, STATUS_STATIC}}, {2, 0}, true},
      {{{kOctave, STATUS_STREAMING}, {kCutoff, STATUS_STREAMING}, {kOctave, STATUS_STATIC}},
       {2, 2, 2},
       false},
      {{{kCutoff, STATUS_STREAMING}, {kCutoff, STATUS_ONE_SHOT}}, {2, 0}, true},
      {{{kOctave, STATUS_ONE_SHOT}}, {0}, true},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    Rig rig(m_main);
    for (const Change& change : c.changes) {
      rig.Status(0, change.pin, change.status, change.pin == kCutoff ? 0x42200000 : 3);
    }
    int32_t requests = 0;
    for (int block = 0; block < 4; ++block) requests += rig.Run(1000);
    Reports expected;
    for (int32_t status : c.reported) expected.push_back({status, 0});
    EXPECT_EQ(rig.Reports(), expected);
    EXPECT_EQ(requests, c.sleeps ? 3 : 0);  // asks with the 2nd, 3rd and 4th block
  }
}

// A one-shot input reports 1 and counts down; it then reads static, so the
// next change anywhere reports 0. Every report carries the sample clock of
// its change, here from a host clock that did not start at 0.
TEST_F(TonevoltTest, ReportsCarryTheSampleClockOfTheirChange) {
  Rig rig(m_main, 5000, 512);
  rig.Status(5000, kInput, STATUS_ONE_SHOT);
  rig.Status(5100, kOctave, STATUS_STREAMING, 5);
  rig.Status(5300, kFreqScale, STATUS_STATIC, 1);
  rig.Status(5301, kOctave, STATUS_STATIC, 5);
  rig.Status(6000, kOrder, STATUS_STATIC, 1);
  std::vector<int32_t> requests;
  for (int i = 0; i < 4; ++i) requests.push_back(rig.Run(500));
  EXPECT_EQ(rig.Reports(), (Reports{{STATUS_ONE_SHOT, 5000},
                                    {STATUS_STREAMING, 5100},
                                    {STATUS_STREAMING, 5300},
                                    {STATUS_STATIC, 5301},
                                    {STATUS_STATIC, 6000}}));
  // Countdown of 512 from 6000: the block 6500..6999 reaches it.
  EXPECT_EQ(requests, (std::vector<int32_t>{0, 0, 0, 1}));
}

// Until the first status change after an open the module never asks, also
// after a re-open that interrupted a countdown.
TEST_F(TonevoltTest, NoSleepRequestBeforeTheFirstChangeAfterOpen) {
  Rig rig(m_main, 0, 256);
  int32_t requests = 0;
  for (int i = 0; i < 8; ++i) requests += rig.Run(1000);
  EXPECT_EQ(requests, 0);

  rig.Status(rig.Clock(), kInput, STATUS_STATIC);
  EXPECT_EQ(rig.Run(1000), 1);
  rig.Host().sample_clock = rig.Clock();
  rig.Instance().Open();
  for (int i = 0; i < 8; ++i) requests += rig.Run(1000);
  EXPECT_EQ(requests, 0);
  EXPECT_TRUE(rig.Reports().size() == 1u);
}

// Without a host callback the reports and requests go nowhere, and the
// signal path runs on.
TEST_F(TonevoltTest, NullHostCallbackMakesReportsAndRequestsNoOps) {
  Rig rig(m_main, 0, 64, /*with_callback=*/false);
  rig.Status(0, kInput, STATUS_STATIC);
  rig.Status(0, kFreqScale, STATUS_STATIC, 1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(rig.Run(100), 0);
  EXPECT_TRUE(rig.Host().calls.empty());
  // Silence in 1 V/oct reads entry 0, -0.9.
  EXPECT_EQ(rig.Output()[99], -0.9f);
}

}  // namespace
