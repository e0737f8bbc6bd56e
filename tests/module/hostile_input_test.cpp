// Input a host may pass without breaking its obligations, however malformed:
// samples that are not numbers, infinite or denormal; cutoffs and sample
// rates far outside their ranges; odd buffer offsets; extreme block sizes;
// a close with events still queued. The module keeps every output finite
// where the signal path allows it, writes only its block, and leaks nothing
// (memcheck and the sanitizer build watch this suite).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "FloatBits.h"
#include "ModuleFixture.h"
#include "TonevoltRig.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kMax = std::numeric_limits<float>::max();
constexpr float kDenormal = std::numeric_limits<float>::denorm_min();

// Table entries 0 and 11999; a scaled value between -1 and 0 extrapolates
// below entry 0 along entries 0 and 1, down to 2 * e0 - e1.
constexpr float kEntry0 = -0.9f;
constexpr float kEntry11999 = 0.97692668437957763671875f;
constexpr float kLowestLookup = -1.4218641f;  // 2 * -0.9 + 0.378135979 (entry 1), rounded down

// A rig that keeps no call log: these tests send long signals.
RigSetup Quiet(float rate) {
  RigSetup setup;
  setup.rate = rate;
  setup.record_calls = false;
  return setup;
}

// n samples repeating pattern.
std::vector<float> Repeat(std::vector<float> pattern, size_t n) {
  std::vector<float> samples(n);
  for (size_t i = 0; i < n; ++i) samples[i] = pattern[i % pattern.size()];
  return samples;
}

std::vector<float> RandomBits(size_t n) {
  std::vector<float> samples(n);
  uint32_t state = 0x9E3779B9u;
  for (float& x : samples) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    std::memcpy(&x, &state, sizeof x);
  }
  return samples;
}

float MeanOfLast(const std::vector<float>& samples, size_t n) {
  double sum = 0.0;
  for (size_t i = samples.size() - n; i < samples.size(); ++i) sum += samples[i];
  return static_cast<float>(sum / n);
}

// Pulses per sample for each pattern, from the crossing rule: a pulse where
// the product of neighbours is negative, or on arrival at zero (NaN and -0.0
// count as zero). The settled 1 V/kHz value is 1.0022 * 2.2 * that rate, as
// the filter passes the mean with gain 1; a negative rate means "any".
struct Malformed {
  const char* name;
  std::vector<float> pattern;
  double pulses_per_sample;
};

const std::vector<Malformed>& MalformedInputs() {
  static const std::vector<Malformed> inputs = {
      {"NaN throughout", {kNaN}, 0.0},
      {"infinities alternating", {kInf, -kInf}, 1.0},           // inf * -inf < 0
      {"largest floats alternating", {kMax, -kMax}, 1.0},       // product overflows to -inf
      {"NaN after one", {1.0f, kNaN}, 0.5},                     // arrives at "zero" once a period
      {"denormals alternating", {kDenormal, -kDenormal}, 0.0},  // product rounds to -0
      {"signed zeros alternating", {0.0f, -0.0f}, 0.0},
      {"random bit patterns", RandomBits(64), -1.0},
  };
  return inputs;
}

TEST_F(TonevoltTest, MalformedSamplesKeepEveryOutputInRange) {
  ASSERT_NE(m_main, nullptr);
  constexpr size_t kSamples = 4096;  // 23 time constants of the 40 Hz filter
  const float full_scale = 1.0022f * 2.2f;
  for (const Malformed& c : MalformedInputs()) {
    const std::vector<float> input = Repeat(c.pattern, kSamples);
    for (int32_t order : {0, 1}) {
      for (int32_t scale : {0, 1}) {
        SCOPED_TRACE(::testing::Message() << c.name << ", order " << order << ", scale " << scale);
        TonevoltRig rig(m_main, Quiet(44100.0f));
        rig.SetAll(0, 40.0f, order, scale);
        const std::vector<float> out = rig.Run(input);
        for (size_t i = 0; i < out.size(); ++i) {
          ASSERT_TRUE(std::isfinite(out[i])) << "sample " << i;
          if (scale == 1) {
            ASSERT_GE(out[i], kEntry0) << "sample " << i;
            ASSERT_LE(out[i], kEntry11999) << "sample " << i;
          } else {
            ASSERT_GE(out[i], 0.0f) << "sample " << i;
          }
        }
        if (scale == 0 && c.pulses_per_sample >= 0.0) {
          EXPECT_NEAR(MeanOfLast(out, 256), full_scale * c.pulses_per_sample, 2e-3);
        }
      }
    }
  }
}

// Whatever cutoff or rate the host sends, the table lookup's clamps keep the
// 1 V/oct output finite and between its extrapolated low end and entry 11999,
// and the module still writes exactly its block.
TEST_F(TonevoltTest, SettingsOutOfRangeKeepTheLookupWithinTheTable) {
  ASSERT_NE(m_main, nullptr);
  const float cutoffs[] = {0.0f, -40.0f, kNaN, kInf, -kInf, 1e30f, kDenormal, 1e6f, 40.0f};
  const float rates[] = {44100.0f, 0.0f, -44100.0f, kNaN, kInf, 1.0f, kMax, 125.0f};
  const std::vector<float> input = Repeat({0.5f, 0.9f, -0.3f, -1.0f, 0.0f, 2.0f, -2.0f}, 1024);
  for (float rate : rates) {
    for (float cutoff : cutoffs) {
      for (int32_t order : {0, 1}) {
        SCOPED_TRACE(::testing::Message()
                     << "rate " << rate << ", cutoff " << cutoff << ", order " << order);
        TonevoltRig rig(m_main, Quiet(rate));  // three octaves up: the widest values
        rig.SetAll(0, cutoff, order, 1, 6);
        for (int block = 0; block < 3; ++block) {
          const std::vector<float> out = rig.Run(input);
          for (size_t i = 0; i < out.size(); ++i) {
            ASSERT_TRUE(std::isfinite(out[i])) << "block " << block << ", sample " << i;
            ASSERT_GE(out[i], kLowestLookup) << "block " << block << ", sample " << i;
            ASSERT_LE(out[i], kEntry11999) << "block " << block << ", sample " << i;
          }
        }
      }
    }
  }
}

// The module reads and writes only [offset, offset + count) of the buffers,
// also at odd offsets and when the host processes in place.
struct Window {
  int32_t offset;
  int32_t count;
  bool in_place;
};
constexpr Window kWindows[] = {
    {0, 1, false},    {1, 1, false}, {7, 13, false}, {255, 1, false},
    {3, 1000, false}, {0, 64, true}, {5, 77, true},  {1023, 1, true},
};

TEST_F(TonevoltTest, WritesOnlyItsBlockAtAnyOffset) {
  ASSERT_NE(m_main, nullptr);
  const float guard = 12345.0f;
  for (const Window& w : kWindows) {
    SCOPED_TRACE(::testing::Message() << "offset " << w.offset << ", count " << w.count
                                      << (w.in_place ? ", in place" : ""));
    const size_t size = static_cast<size_t>(w.offset + w.count + 16);
    std::vector<float> signal(static_cast<size_t>(w.count));
    for (int32_t i = 0; i < w.count; ++i) signal[i] = (i / 3) % 2 ? 0.5f : -0.5f;

    // The same block in separate buffers at offset 0 gives the reference.
    TonevoltRig reference(m_main, Quiet(44100.0f));
    reference.SetAll(0, 400.0f, 1, 0);
    const std::vector<float> expected = reference.Run(signal);

    TonevoltRig rig(m_main, Quiet(44100.0f));
    rig.SetAll(0, 400.0f, 1, 0);
    std::vector<float> in(size, guard), separate(size, guard);
    std::copy(signal.begin(), signal.end(), in.begin() + w.offset);
    float* out = w.in_place ? in.data() : separate.data();
    rig.Instance().ConnectBuffer(kInput, in.data());
    rig.Instance().ConnectBuffer(kPitch, out);
    rig.Instance().Process(w.offset, w.count);

    for (size_t i = 0; i < size; ++i) {
      bool inside =
          i >= static_cast<size_t>(w.offset) && i < static_cast<size_t>(w.offset + w.count);
      if (inside) {
        EXPECT_EQ(Bits(out[i]), Bits(expected[i - w.offset])) << "sample " << i;
      } else {
        EXPECT_EQ(Bits(out[i]), Bits(guard)) << "sample " << i;
      }
    }
  }
}

// The sleep countdown starts at the host's block size, whatever it is, and
// saturates rather than wrapping: with static inputs each 64-sample block
// after it runs out asks to sleep. Expected: blocks k of 8 with B - 64 k <= 0.
struct Countdown {
  int32_t block_size;
  int32_t sleep_requests;
};
// INT32_MIN would wrap to a huge positive count without saturation; 130
// runs out in the third block.
constexpr Countdown kCountdowns[] = {
    {INT32_MIN, 8}, {-1, 8}, {0, 8}, {64, 8}, {130, 6}, {INT32_MAX, 0},
};

TEST_F(TonevoltTest, ExtremeBlockSizesSaturateTheSleepCountdown) {
  ASSERT_NE(m_main, nullptr);
  for (const Countdown& c : kCountdowns) {
    SCOPED_TRACE(::testing::Message() << "block size " << c.block_size);
    wbhost::Instance instance;
    ASSERT_TRUE(instance.Create(m_main));
    instance.SetBlockSize(c.block_size);
    instance.Open();
    instance.AddPinEvent(0, kInput, STATUS_STATIC, 0);
    std::vector<float> in(64, 0.25f), out(64);
    instance.ConnectBuffer(kInput, in.data());
    instance.ConnectBuffer(kPitch, out.data());
    for (int block = 0; block < 8; ++block) instance.Process(0, 64);
    EXPECT_EQ(instance.Host().sleep_requests, c.sleep_requests);
  }
}

void WB_CALL NeverRuns(void*) { ADD_FAILURE() << "a deferred call ran after its instance closed"; }

// Events of every kind still queued at close are released with the instance,
// deferred calls' records included, without running. Only memcheck and the
// leak sanitizer see the release; the test sees that nothing runs.
TEST_F(TonevoltTest, CloseWithEventsOfEveryKindStillQueued) {
  ASSERT_NE(m_main, nullptr);
  wbhost::Instance instance;
  ASSERT_TRUE(instance.Create(m_main));
  instance.Host().pin_count = 64;
  instance.Open();
  instance.AddPinFloatEvent(100, kCutoff, STATUS_STREAMING, kNaN);
  instance.AddPinEvent(100, 63, STATUS_ONE_SHOT, 0x7FFF0001);
  instance.AddPinEvent(90, 64, STATUS_STATIC, 1);              // no such pin
  DeferredCall* call = new DeferredCall{nullptr, &NeverRuns};  // the module's to release
  WbEvent deferred = {50, EVENT_DEFERRED_CALL, 0, 0, call, nullptr};
  instance.AddEvent(deferred);
  WbEvent data = {70, EVENT_DATA, 1, 2, nullptr, nullptr};
  instance.AddEvent(data);
  WbEvent unknown = {0xFFFFFFFFu, 4, 0, 0, nullptr, nullptr};
  instance.AddEvent(unknown);
  std::vector<float> in(32, 1.0f), out(32);
  instance.ConnectBuffer(kInput, in.data());
  instance.ConnectBuffer(kPitch, out.data());
  instance.Process(0, 32);
  EXPECT_FALSE(instance.QueueEmpty());
  EXPECT_EQ(instance.Close(), 1);
}

}  // namespace
