// A host that breaks its obligations stops the process with an assertion that
// names the condition, the fixed file "wb_sdk/WBModule_base" and its line.
#include <gmock/gmock.h>

#include <string>

#include "ModuleFixture.h"
#include "ProbeModule.h"
#include "TonevoltRig.h"

namespace {

using ::testing::AllOf;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Matcher;

// glibc:       "wb_sdk/WBModule_base:179: void ...: Assertion `sampleFrames > 0' failed."
// Windows CRT: "Assertion failed: sampleFrames > 0, file wb_sdk/WBModule_base, line 179"
// The regex is written for both gtest engines (POSIX on Linux, gtest's own
// simple one on Windows, which has no alternation or brackets).
Matcher<const std::string&> HostObligation(const std::string& condition, int line) {
  return AllOf(HasSubstr(condition), ContainsRegex("wb_sdk/WBModule_base\\W+l?i?n?e?\\s?" +
                                                   std::to_string(line) + "\\W"));
}

class HostObligationsTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

  static RigSetup HostClock(uint32_t clock) {
    RigSetup setup;
    setup.host_clock = clock;
    return setup;
  }

  WBMainProc m_tonevolt = testing_support::LoadMain("Tonevolt");
  WBMainProc m_probe = testing_support::LoadMain("ProbeModule");
  wbhost::Instance m_instance;
};

TEST_F(HostObligationsTest, BlockOfNoSamplesOrFewer) {
  TonevoltRig rig(m_tonevolt);
  for (int32_t frames : {0, -1}) {
    EXPECT_DEATH(rig.RunSilence(frames), HostObligation("sampleFrames > 0", 179))
        << frames << " samples";
  }
}

TEST_F(HostObligationsTest, EventStampedBeforeTheClock) {
  TonevoltRig rig(m_tonevolt, HostClock(100));
  EXPECT_DEATH(rig.Set(99, kOctave, 3, STATUS_STREAMING),
               HostObligation("p_event->time_stamp >= SampleClock()", 273));
}

TEST_F(HostObligationsTest, PinEventBeforeOpen) {
  ASSERT_NE(m_probe, nullptr);
  ASSERT_TRUE(m_instance.Create(m_probe));
  m_instance.AddPinEvent(0, 0, STATUS_STREAMING, 1);
  EXPECT_DEATH(m_instance.Process(0, 4), HostObligation("m_pins != 0", 124));
}

// Events queued before open keep their stamps while open takes the host's
// clock, which may lie past them: the first block finds them behind it.
TEST_F(HostObligationsTest, EventLeftBehindByOpen) {
  ASSERT_NE(m_probe, nullptr);
  ASSERT_TRUE(m_instance.Create(m_probe));
  m_instance.AddPinEvent(5, 0, STATUS_STREAMING, 1);
  m_instance.Host().sample_clock = 100;
  m_instance.Open();
  EXPECT_DEATH(m_instance.Process(0, 1),
               HostObligation("next_event->time_stamp >= current_sample_clock", 198));
}

// A deferred call that resumes the module while its host's clock reads
// earlier moves the module's clock back under an event due at the same
// sample; the block goes on to apply that event without another piece.
struct Rewind {
  wbhost::Instance* instance;
  uint32_t host_clock;
};

void WB_CALL RewindClock(void* argument) {
  Rewind* rewind = static_cast<Rewind*>(argument);
  rewind->instance->Host().sample_clock = rewind->host_clock;
  rewind->instance->Resume();
}

TEST_F(HostObligationsTest, EventAppliedAwayFromTheClock) {
  TonevoltRig rig(m_probe);
  Rewind rewind{&rig.Instance(), 5};
  // Queued in the dying process only, so nothing is left to leak here.
  auto rewind_under_due_event = [&] {
    WbEvent deferred = {10,     EVENT_DEFERRED_CALL, 0, 0, new DeferredCall{&rewind, &RewindClock},
                        nullptr};
    rig.Instance().AddEvent(deferred);
    rig.Set(10, 0, 1, STATUS_STREAMING);
    rig.RunSilence(32);
  };
  EXPECT_DEATH(rewind_under_due_event(), HostObligation("e->time_stamp == SampleClock()", 231));
}

}  // namespace
