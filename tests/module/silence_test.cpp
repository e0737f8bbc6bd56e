// Silence after sound: once the filter has come to rest the module holds its
// output without computing it, and that must never change a bit. Every case
// here compares the module's output with the plain per-sample loop of
// PlainLoop.h over the same history: pieces cut by events, changes of every
// setting, and input that the crossing test treats as zero in all its forms.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "FloatBits.h"
#include "ModuleFixture.h"
#include "PlainLoop.h"
#include "TonevoltRig.h"

namespace {

using plain_loop::PlainLoop;
using plain_loop::Words;
using plain_loop::WordsScope;

constexpr float kRate = 44100.0f;
constexpr double kPi = 3.14159265358979323846;

struct PinChange {
  uint32_t at;
  int32_t pin;
  int32_t value;  // a cutoff as its float bits
};

// Input, pin changes in time order, and the host's block sizes.
struct History {
  std::vector<float> input;
  std::vector<PinChange> changes;
  std::vector<int32_t> blocks;
};

struct Outcome {
  std::vector<uint32_t> module, plain;
  int64_t held = 0;           // samples at which the plain loop's state was at rest
  int64_t held_off_zero = 0;  // of them, those resting away from 0
};

void Apply(PlainLoop& loop, const PinChange& change) {
  switch (change.pin) {
    case kCutoff:
      loop.SetCutoff(FromBits(static_cast<uint32_t>(change.value)));
      break;
    case kOctave:
      loop.SetOctave(change.value);
      break;
    case kFreqScale:
      loop.SetScale(change.value);
      break;
    case kOrder:
      loop.SetOrder(change.value);
      break;
  }
}

// Opens the module and the plain loop under the thread's control state and
// runs the history through both, block by block: the module through the
// host's queue and process call, the plain loop piece by piece. In place,
// the module's input and output pins share one buffer, as hosts may have it.
Outcome RunBoth(WBMainProc main, const History& history, bool in_place = false) {
  std::vector<float> input(history.input);
  std::vector<float> module_out(input.size()), plain_out(input.size());
  if (in_place) module_out = input;
  wbhost::Instance instance;
  EXPECT_TRUE(instance.Create(main));
  instance.Host().record_calls = false;
  instance.SetSampleRate(kRate);
  instance.Open();
  PlainLoop loop(kRate);
  instance.ConnectBuffer(kInput, in_place ? module_out.data() : input.data());
  instance.ConnectBuffer(kPitch, module_out.data());
  instance.AddPinEvent(0, kInput, STATUS_STREAMING, 0);  // never asked to sleep

  const std::vector<PinChange>& changes = history.changes;
  size_t queued = 0, applied = 0;
  uint32_t start = 0;
  for (int32_t block : history.blocks) {
    const uint32_t end = start + static_cast<uint32_t>(block);
    for (; queued < changes.size() && changes[queued].at < end; ++queued) {
      const PinChange& c = changes[queued];
      instance.AddPinEvent(c.at, c.pin, STATUS_STATIC, c.value);
    }
    instance.Process(static_cast<int32_t>(start), block);
    for (uint32_t t = start; t < end;) {
      for (; applied < changes.size() && changes[applied].at <= t; ++applied)
        Apply(loop, changes[applied]);
      const uint32_t next =
          applied < changes.size() && changes[applied].at < end ? changes[applied].at : end;
      loop.Piece(&input[t], &plain_out[t], static_cast<int32_t>(next - t));
      t = next;
    }
    start = end;
  }
  Outcome outcome;
  for (size_t i = 0; i < input.size(); ++i) {
    outcome.module.push_back(Bits(module_out[i]));
    outcome.plain.push_back(Bits(plain_out[i]));
  }
  outcome.held = loop.HeldSamples();
  outcome.held_off_zero = loop.HeldOffZero();
  return outcome;
}

// The first sample where the two differ, or -1.
int64_t FirstDifference(const Outcome& o) {
  for (size_t i = 0; i < o.module.size(); ++i)
    if (o.module[i] != o.plain[i]) return static_cast<int64_t>(i);
  return -1;
}

void AppendTone(std::vector<float>& input, double hz, double amplitude, int32_t length) {
  for (int32_t i = 0; i < length; ++i)
    input.push_back(static_cast<float>(amplitude * std::sin(2.0 * kPi * hz * i / kRate)));
}

std::vector<int32_t> EvenBlocks(size_t length, int32_t size) {
  std::vector<int32_t> blocks;
  for (size_t done = 0; done < length; done += static_cast<size_t>(size))
    blocks.push_back(static_cast<int32_t>(std::min<size_t>(size, length - done)));
  return blocks;
}

// ------------------------------------------------ burst, silence, burst

// A burst, a silence long enough to come to rest, a burst again, and a second
// silence in which the cutoff changes after the state has settled (a new b1
// moves it on to a new resting value) and changes back. Blocks of 1000 cut
// both silences off the block grid; pin changes that alter nothing cut the
// pieces in which each silence starts and ends.
TEST_F(TonevoltTest, SilenceAfterABurstMatchesThePlainLoopInEveryMode) {
  struct Case {
    const char* what;
    int32_t order;
    int32_t scale;
    uint32_t resting;  // the output once the first silence has settled
    uint32_t resting_after_41_hz;
  };
  // Round to nearest leaves each stage on a denormal that b1 maps onto itself;
  // a 1 V/oct call truncates, down to 0, which reads entry 0 (-0.9).
  const Case cases[] = {
      {"1 pole, 1 V/kHz", 0, 0, 0x000000bfu, 0x000000bbu},
      {"2 poles, 1 V/kHz", 1, 0, 0x0000017fu, 0x00000176u},
      {"1 pole, 1 V/oct", 0, 1, 0xbf666666u, 0xbf666666u},
      {"2 poles, 1 V/oct", 1, 1, 0xbf666666u, 0xbf666666u},
  };
  History h;
  AppendTone(h.input, 440.0, 0.5, 22050);
  const uint32_t silence1 = static_cast<uint32_t>(h.input.size());
  h.input.resize(h.input.size() + 132300, 0.0f);  // 3 s
  const uint32_t burst2 = static_cast<uint32_t>(h.input.size());
  AppendTone(h.input, 1000.0, 0.25, 11025);
  const uint32_t silence2 = static_cast<uint32_t>(h.input.size());
  h.input.resize(h.input.size() + 176400, 0.0f);  // 4 s
  const uint32_t end = static_cast<uint32_t>(h.input.size());
  h.changes = {
      {silence1 - 5, kOctave, 3},
      {silence1 + 2, kOctave, 3},
      {burst2 - 3, kOctave, 3},
      {burst2 + 7, kOctave, 3},
      {silence2 + 60000, kCutoff, static_cast<int32_t>(Bits(41.0f))},
      {silence2 + 120000, kCutoff, static_cast<int32_t>(Bits(40.0f))},
  };
  h.blocks = EvenBlocks(h.input.size(), 1000);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WordsScope nearest(plain_loop::WithRounding(plain_loop::ReadWords(), 0));
    History with_mode = h;
    with_mode.changes.insert(with_mode.changes.begin(),
                             {{0, kOrder, c.order}, {0, kFreqScale, c.scale}});
    const Outcome o = RunBoth(m_main, with_mode);
    EXPECT_EQ(FirstDifference(o), -1);
    EXPECT_EQ(FirstDifference(RunBoth(m_main, with_mode, /*in_place=*/true)), -1) << "in place";
    // Rested for most of both silences, and left the rest with each burst.
    EXPECT_GT(o.held, 200000);
    EXPECT_EQ(o.module[burst2 - 1], c.resting);
    EXPECT_NE(o.module[burst2 + 100], c.resting);
    // In 1 V/kHz, 41 Hz moves the rest down to a smaller denormal, which
    // 40 Hz keeps; in 1 V/oct the rest stays at 0.
    EXPECT_EQ(o.module[silence2 + 119999], c.resting_after_41_hz);
    EXPECT_EQ(o.module[end - 1], c.resting_after_41_hz);
  }
}

// Zero-like input in every form the crossing test knows: -0.0, NaNs of
// both signs and any payload, and (only when the control state treats them
// as zero) denormals. A lone denormal in a rested silence, with denormals
// counted as numbers, is a crossing: the output moves on after it.
TEST_F(TonevoltTest, RestedSilenceHoldsThroughEveryZeroLikeInput) {
  std::vector<float> silence(60000, 0.0f);
  for (size_t i = 40000; i < silence.size(); i += 7) silence[i] = -0.0f;
  for (size_t i = 40003; i < silence.size(); i += 101) silence[i] = FromBits(0x7fc00001u);
  for (size_t i = 40011; i < silence.size(); i += 499) silence[i] = FromBits(0xffc12345u);
  silence[50000] = FromBits(0x00000001u);  // denormals: zero only with DAZ
  silence[55001] = FromBits(0x807fffffu);
  struct Case {
    const char* what;
    uint32_t mxcsr_extra;
  };
  const Case cases[] = {{"denormals are numbers", 0u}, {"denormals are zero (DAZ, FTZ)", 0x8040u}};
  for (const Case& c : cases) {
    for (int32_t mode = 0; mode < 4; ++mode) {
      SCOPED_TRACE(testing::Message() << c.what << ", mode " << mode);
      Words words = plain_loop::WithRounding(plain_loop::ReadWords(), 0);
      words.mxcsr |= c.mxcsr_extra;
      WordsScope state(words);
      History h;
      AppendTone(h.input, 440.0, 0.5, 4410);
      h.input.insert(h.input.end(), silence.begin(), silence.end());
      h.changes = {{0, kOrder, mode & 1}, {0, kFreqScale, mode >> 1}};
      h.blocks = EvenBlocks(h.input.size(), 512);
      const Outcome o = RunBoth(m_main, h);
      EXPECT_EQ(FirstDifference(o), -1);
      EXPECT_GT(o.held, 10000);
      const size_t denormal = 4410 + 50000;
      const bool daz = c.mxcsr_extra != 0 && plain_loop::DenormalsAreZeroShow();
      // Held across the denormal only where it counts as zero.
      EXPECT_EQ(o.module[denormal + 2] == o.module[denormal - 1], daz);
    }
  }
}

// The state rests only when a sample leaves every stage's input memory as it
// was too, not only its output. Two histories where an output alone would
// look settled one sample too early: stage 1 right after the pulse of an
// arrival at zero, its output near half the pulse height, where the cutoff
// below makes a1 * pulse + b1 * y round back to y; and stage 2 switched
// back on with an input memory left from a single two-pole sample (under
// rounding up, stage 1 resting at a denormal), while stage 1 has since
// decayed to 0 under truncation. A 1 V/kHz stretch at the end shows the
// stage-2 state. Each rest check comes at the start of a piece.
TEST_F(TonevoltTest, RestNeedsEveryStageInputSettled) {
  struct Case {
    const char* what;
    uint32_t rounding;
    History history;
  };
  History pulsed;
  for (int32_t i = 0; i < 76; ++i) pulsed.input.push_back(i % 2 == 0 ? 1.0f : -1.0f);
  pulsed.input.resize(2000, 0.0f);
  pulsed.changes = {{0, kCutoff, static_cast<int32_t>(0x4280e042u)}};  // 64.438 Hz
  pulsed.blocks = {77, 1923};

  History stale;
  AppendTone(stale.input, 440.0, 0.5, 4410);
  stale.input.resize(30000, 0.0f);
  const uint32_t t = 24410;
  stale.changes = {{0, kCutoff, static_cast<int32_t>(Bits(300.0f))},
                   {t, kOrder, 1},
                   {t + 1, kOrder, 0},
                   {t + 1, kFreqScale, 1},
                   {t + 1000, kOrder, 1},
                   {t + 2000, kFreqScale, 0}};
  stale.blocks = EvenBlocks(stale.input.size(), 1024);

  const Case cases[] = {{"stage 1 input", 0, pulsed}, {"stage 2 input", 2, stale}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WordsScope state(plain_loop::WithRounding(plain_loop::ReadWords(), c.rounding));
    const Outcome o = RunBoth(m_main, c.history);
    EXPECT_EQ(FirstDifference(o), -1);
  }
}

// ------------------------------------------------------ random histories

uint32_t Below(std::mt19937& random, uint32_t n) { return random() % n; }
double Uniform(std::mt19937& random) { return random() / 4294967296.0; }
template <typename T, size_t N>
T Pick(std::mt19937& random, const T (&values)[N]) {
  return values[Below(random, N)];
}

// Silence with, at per-silence rates, -0.0, NaNs, denormals and lone clicks.
void AppendSilence(std::mt19937& random, std::vector<float>& input, int32_t length) {
  const double negative_zero = Pick(random, {0.0, 0.0, 0.3, 1.0});
  const double nan = Pick(random, {0.0, 0.0, 0.001, 0.05});
  const double denormal = Pick(random, {0.0, 0.0, 0.0, 0.0002});
  const double click = Pick(random, {0.0, 0.0, 0.0, 0.0001});
  for (int32_t i = 0; i < length; ++i) {
    const double u = Uniform(random);
    float x = 0.0f;
    if (u < click) {
      x = Pick(random, {1.0f, -0.5f, 1e-30f, -3e-39f, std::numeric_limits<float>::infinity()});
    } else if (u < click + denormal) {
      x = FromBits((random() & 0x807fffffu) | 1u);
    } else if (u < click + denormal + nan) {
      x = FromBits(0x7fc00000u | (random() & 0x803fffffu));
    } else if (u < click + denormal + nan + negative_zero) {
      x = -0.0f;
    }
    input.push_back(x);
  }
}

// Tones of any pitch and level between silences short and long (long enough
// to come to rest at the slower cutoffs), pin changes anywhere, but more of
// them where silences begin and end and inside long ones, and block sizes
// from 1 to 4096 samples.
History RandomHistory(uint32_t seed, size_t length) {
  std::mt19937 random(seed);
  History h;
  std::vector<uint32_t> edges;
  while (h.input.size() < length) {
    const uint32_t kind = Below(random, 10);
    if (kind < 4) {
      const double hz = 20.0 * std::pow(800.0, Uniform(random));
      const double amplitude = std::pow(10.0, -6.0 * Uniform(random));
      const int32_t n = 50 + static_cast<int32_t>(Below(random, 20000));
      const double phase = 2.0 * kPi * Uniform(random);
      for (int32_t i = 0; i < n; ++i)
        h.input.push_back(
            static_cast<float>(amplitude * std::sin(2.0 * kPi * hz * i / kRate + phase)));
    } else {
      const int32_t n = kind < 6 ? 1 + static_cast<int32_t>(Below(random, 3000))
                                 : 25000 + static_cast<int32_t>(Below(random, 50000));
      edges.push_back(static_cast<uint32_t>(h.input.size()));
      if (n > 25000)
        edges.push_back(static_cast<uint32_t>(h.input.size()) + 20000 + Below(random, 5000));
      AppendSilence(random, h.input, n);
      edges.push_back(static_cast<uint32_t>(h.input.size()));
    }
  }

  std::vector<uint32_t> times;
  for (uint32_t t = Below(random, 6000); t < h.input.size(); t += 1 + Below(random, 6000))
    times.push_back(t);
  for (uint32_t edge : edges) {
    if (Below(random, 2) == 0) times.push_back(edge);
    if (Below(random, 2) == 0 && edge >= 3) times.push_back(edge - Below(random, 4));
    if (Below(random, 2) == 0) times.push_back(edge + Below(random, 4));
  }
  std::sort(times.begin(), times.end());
  const float cutoffs[] = {10.0f,    40.0f,  40.0f,
                           41.0f,    300.0f, 5000.0f,
                           30000.0f, 0.0f,   std::numeric_limits<float>::quiet_NaN()};
  const int32_t octaves[] = {0, 1, 2, 3, 3, 4, 5, 6, 7, 100, 0xFFFF, 0x10004, -1};
  const int32_t lists[] = {0, 1, 0, 1, 2, 0x10001};
  for (uint32_t t : times) {
    if (t >= h.input.size()) continue;
    switch (Below(random, 4)) {
      case 0: {
        float hz = Below(random, 3) == 0 ? static_cast<float>(10.0 + 4990.0 * Uniform(random))
                                         : Pick(random, cutoffs);
        h.changes.push_back({t, kCutoff, static_cast<int32_t>(Bits(hz))});
        break;
      }
      case 1:
        h.changes.push_back({t, kOctave, Pick(random, octaves)});
        break;
      case 2:
        h.changes.push_back({t, kFreqScale, Pick(random, lists)});
        break;
      default:
        h.changes.push_back({t, kOrder, Pick(random, lists)});
        break;
    }
  }

  const int32_t sizes[] = {1, 2, 3, 17, 64, 100, 256, 512, 1000, 1024, 1024, 2048, 4096};
  for (size_t done = 0; done < h.input.size();) {
    const size_t n =
        std::min<size_t>(static_cast<size_t>(Pick(random, sizes)), h.input.size() - done);
    h.blocks.push_back(static_cast<int32_t>(n));
    done += n;
  }
  return h;
}

// Whatever the history, under every rounding mode and with denormals
// flushed and treated as zero, the module's bits are the plain loop's.
TEST_F(TonevoltTest, RandomHistoriesMatchThePlainLoop) {
  struct Case {
    const char* what;
    uint32_t rounding;
    uint32_t mxcsr_extra;
    bool rests_off_zero;  // 1 V/kHz stages come to rest on a denormal
  };
  const Case cases[] = {
      {"nearest", 0, 0u, true},
      {"down", 1, 0u, false},
      {"up", 2, 0u, true},
      {"toward zero", 3, 0u, false},
      {"nearest, FTZ and DAZ", 0, 0x8040u, false},
  };
  for (const Case& c : cases) {
    int64_t held = 0, held_off_zero = 0;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
      SCOPED_TRACE(testing::Message() << c.what << ", seed " << seed);
      Words words = plain_loop::WithRounding(plain_loop::ReadWords(), c.rounding);
      words.mxcsr |= c.mxcsr_extra;
      WordsScope state(words);
      // Every other seed in place: the rest's fill must not lose the input.
      const Outcome o = RunBoth(m_main, RandomHistory(seed, 400000), seed % 2 == 0);
      EXPECT_EQ(FirstDifference(o), -1);
      held += o.held;
      held_off_zero += o.held_off_zero;
    }
    SCOPED_TRACE(c.what);
    EXPECT_GT(held, 100000);  // the histories do reach rest
    if (c.rests_off_zero && plain_loop::RoundingModesShow()) {
      EXPECT_GT(held_off_zero, 10000);
    }
  }
}

}  // namespace
