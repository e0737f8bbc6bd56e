// The output pin's status as reported to the host, and the sleep request
// that follows one host block after the inputs went quiet.
#include <cstdint>
#include <cstring>
#include <vector>

#include "ModuleFixture.h"
#include "TonevoltRig.h"

namespace {

// A rig as a host sets one up: its clock at open, its block size.
RigSetup HostWith(uint32_t host_clock, int32_t block_size, bool with_callback = true) {
  RigSetup setup;
  setup.host_clock = host_clock;
  setup.block_size = block_size;
  setup.with_callback = with_callback;
  return setup;
}

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
    TonevoltRig rig(m_main, HostWith(0, c.block_size));
    rig.Set(0, kInput, 0, STATUS_STATIC);
    std::vector<int32_t> requests;
    for (int32_t length : c.blocks) requests.push_back(rig.RunSilence(length));
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
  TonevoltRig rig(m_main, HostWith(0, 256));
  rig.Set(0, kInput, 0, STATUS_STATIC);
  rig.Placeholder(10000);
  int32_t requests = 0;
  while (rig.Clock() + 256 <= 10000) requests += rig.RunSilence(256);
  EXPECT_EQ(requests, 0);
  EXPECT_FALSE(rig.Instance().QueueEmpty());
  EXPECT_EQ(rig.RunSilence(256), 1);  // 9984..10239: cut at 10000, asks after it
  EXPECT_TRUE(rig.Instance().QueueEmpty());
  EXPECT_EQ(rig.RunSilence(256), 1);
}

// A pin change, by contrast, restarts the countdown from the block size.
TEST_F(TonevoltTest, StatusChangeRestartsTheCountdown) {
  TonevoltRig rig(m_main, HostWith(0, 256));
  rig.Set(0, kInput, 0, STATUS_STATIC);
  rig.Set(1000, kOctave, 4, STATUS_STATIC);
  std::vector<int32_t> requests;
  for (int i = 0; i < 6; ++i) requests.push_back(rig.RunSilence(250));
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
    TonevoltRig rig(m_main);
    for (const Change& change : c.changes) {
      rig.Set(0, change.pin, change.pin == kCutoff ? 0x42200000 : 3, change.status);
    }
    int32_t requests = 0;
    for (int block = 0; block < 4; ++block) requests += rig.RunSilence(1000);
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
  TonevoltRig rig(m_main, HostWith(5000, 512));
  rig.Set(5000, kInput, 0, STATUS_ONE_SHOT);
  rig.Set(5100, kOctave, 5, STATUS_STREAMING);
  rig.Set(5300, kFreqScale, 1, STATUS_STATIC);
  rig.Set(5301, kOctave, 5, STATUS_STATIC);
  rig.Set(6000, kOrder, 1, STATUS_STATIC);
  std::vector<int32_t> requests;
  for (int i = 0; i < 4; ++i) requests.push_back(rig.RunSilence(500));
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
  TonevoltRig rig(m_main, HostWith(0, 256));
  int32_t requests = 0;
  for (int i = 0; i < 8; ++i) requests += rig.RunSilence(1000);
  EXPECT_EQ(requests, 0);

  rig.Set(rig.Clock(), kInput, 0, STATUS_STATIC);
  EXPECT_EQ(rig.RunSilence(1000), 1);
  rig.Host().sample_clock = rig.Clock();
  rig.Instance().Open();
  for (int i = 0; i < 8; ++i) requests += rig.RunSilence(1000);
  EXPECT_EQ(requests, 0);
  EXPECT_TRUE(rig.Reports().size() == 1u);
}

// Without a host callback the reports and requests go nowhere, and the
// signal path runs on.
TEST_F(TonevoltTest, NullHostCallbackMakesReportsAndRequestsNoOps) {
  TonevoltRig rig(m_main, HostWith(0, 64, /*with_callback=*/false));
  rig.Set(0, kInput, 0, STATUS_STATIC);
  rig.Set(0, kFreqScale, 1, STATUS_STATIC);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(rig.RunSilence(100), 0);
  EXPECT_TRUE(rig.Host().calls.empty());
  // Silence in 1 V/oct reads entry 0, -0.9.
  EXPECT_EQ(rig.Output()[99], -0.9f);
}

}  // namespace
