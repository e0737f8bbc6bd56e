#include "analysis/Reliability.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "Signals.h"

namespace tonevolt {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(CrossingCounter, CountsAsTheModuleDoes) {
  struct Case {
    float prev;
    float x;
    bool crossing;
  };
  const Case kCases[] = {
      {1, -1, true},
      {-1, 1, true},
      {0.5f, 0, true},
      {-0.5f, 0, true},
      {1, -0.0f, true},
      {1, kNaN, true},
      {-kInf, 0, true},
      {kInf, -1, true},
      {0, 1, false},
      {-0.0f, 1, false},
      {0, 0, false},
      {0, kNaN, false},
      {kNaN, 1, false},
      {kNaN, -1, false},
      {kNaN, kNaN, false},
      {1, 1, false},
      {-2, -3, false},
      {0, -0.0f, false},
      // The product is rounded to float: a subnormal product is below zero,
      // one that rounds to -0 is not.
      {1e-20f, -1e-20f, true},
      {1e-23f, -1e-23f, false},
      {-1e-23f, 1e-23f, false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(CrossingCounter::IsCrossing(c.prev, c.x), c.crossing) << c.prev << " then " << c.x;
  }
}

// Window k spans [k * hop - window / 2, + window): a lone crossing at sample n
// shows in exactly the windows covering n; the ends hold fewer samples.
TEST(CrossingCounter, WindowsLineUpWithTheFrames) {
  const int hop = 512, window = 8192;
  const size_t count = 30000, crossing_at = 12345;
  std::vector<float> x(count, 1.0f);
  for (size_t i = crossing_at; i < count; ++i) x[i] = -1.0f;
  x[0] = 0.0f;  // the input starts after a 0: no crossing at sample 0 either way

  for (size_t block : {1, 500, 512, 30000}) {
    CrossingCounter counter(hop, window);
    signals::InBlocks(x, block, [&](const float* in, size_t n) { counter.Process(in, n); });
    counter.Finish();
    const auto& windows = counter.Windows();
    ASSERT_EQ(windows.size(), (count + hop - 1) / hop) << block;
    EXPECT_EQ(counter.Total(), 1u);
    for (size_t k = 0; k < windows.size(); ++k) {
      int64_t start = static_cast<int64_t>(k) * hop - window / 2;
      int64_t end = start + window;
      bool covers =
          start <= static_cast<int64_t>(crossing_at) && static_cast<int64_t>(crossing_at) < end;
      EXPECT_EQ(windows[k].crossings, covers ? 1u : 0u) << block << ", window " << k;
      int64_t samples = std::min<int64_t>(end, count) - std::max<int64_t>(start, 0);
      EXPECT_EQ(windows[k].samples, static_cast<uint32_t>(samples)) << block << ", window " << k;
    }
  }
}

struct Analysis {
  std::vector<PitchFrame> frames;
  std::vector<CrossingWindow> windows;
  std::vector<Stretch> stretches;
};

Analysis Analyse(const std::vector<float>& x, int rate, size_t block = 4096) {
  Analysis analysis;
  std::string error;
  auto tracker = PitchTracker::Create(rate, PitchOptions(), &error);
  EXPECT_TRUE(tracker) << error;
  if (!tracker) return analysis;
  CrossingCounter counter(PitchOptions().hop, PitchOptions().window);
  ReliabilityCheck check(rate, PitchOptions().hop);
  size_t checked = 0;
  signals::InBlocks(x, block, [&](const float* in, size_t count) {
    tracker->Process(in, count);
    counter.Process(in, count);
    for (; checked < std::min(tracker->Frames().size(), counter.Windows().size()); ++checked) {
      check.Add(tracker->Frames()[checked], counter.Windows()[checked]);
    }
  });
  tracker->Finish();
  counter.Finish();
  EXPECT_EQ(tracker->Frames().size(), counter.Windows().size());
  for (; checked < tracker->Frames().size(); ++checked) {
    check.Add(tracker->Frames()[checked], counter.Windows()[checked]);
  }
  check.Finish(static_cast<double>(x.size()) / rate);
  analysis.frames = tracker->Frames();
  analysis.windows = counter.Windows();
  analysis.stretches = check.Stretches();
  return analysis;
}

// Crossings a period of the waveform really has, by fine sampling.
int CrossingsPerCycle(const std::vector<signals::Partial>& partials) {
  const int steps = 100000;
  int crossings = 0;
  double prev = signals::Partials(partials, -1.0 / steps);
  for (int i = 0; i < steps; ++i) {
    double x = signals::Partials(partials, static_cast<double>(i) / steps);
    crossings += (prev < 0) != (x < 0);
    prev = x;
  }
  return crossings;
}

// Clean tones of two crossings a period, even unevenly spaced (a narrow
// pulse) or few in a window (a low note), give a single ok stretch.
TEST(ReliabilityCheck, CleanTonesAreOk) {
  struct Case {
    const char* name;
    double hz;
    int rate;
  };
  const Case kCases[] = {{"sine", 220, 44100},  {"sine", 55, 44100},  {"sine", 41.2, 48000},
                         {"sine", 1760, 96000}, {"pulse", 55, 44100}, {"saw", 110, 48000}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.hz) + " Hz");
    double duration = 2.0;
    std::vector<float> x = signals::Generate(static_cast<size_t>(duration * c.rate), [&](size_t i) {
      double cycles = c.hz * i / c.rate, phase = cycles - std::floor(cycles);
      if (std::string(c.name) == "sine") return 0.5 * std::sin(2 * M_PI * cycles);
      if (std::string(c.name) == "pulse") return phase < 0.2 ? 0.5 : -0.5;
      return 0.5 * (2 * phase - 1);
    });
    Analysis analysis = Analyse(x, c.rate);
    ASSERT_EQ(analysis.stretches.size(), 1u);
    const Stretch& stretch = analysis.stretches[0];
    EXPECT_EQ(stretch.mark, Reliability::kOk);
    EXPECT_EQ(stretch.start_s, 0);
    EXPECT_DOUBLE_EQ(stretch.end_s, duration);
    EXPECT_EQ(stretch.frames, analysis.frames.size());
    EXPECT_NEAR(signals::Cents(stretch.median_hz, c.hz), 0, 5);
    // A window of P periods holds 2P crossings, give or take two.
    EXPECT_NEAR(stretch.median_crossings_per_period, 2, 2 / (8192.0 / c.rate * c.hz));
  }
}

// Third and fifth harmonics in phases that cross zero between the
// fundamental's crossings: the module counts them all and reads high.
TEST(ReliabilityCheck, ExtraCrossingsAreHarmonics) {
  const std::vector<std::vector<signals::Partial>> kTones = {
      {{1, 1.0, 0}, {3, 0.9, M_PI}, {5, 0.7, 0}},
      {{1, 1.0, 0}, {3, 1.0, M_PI / 2}, {5, 1.0, 0}},
      {{1, 1.0, 0}, {3, 0.5, M_PI}},
  };
  const int rate = 44100;
  for (const auto& partials : kTones) {
    int per_cycle = CrossingsPerCycle(partials);
    ASSERT_GT(per_cycle, 2) << "the harmonics add no crossings";
    std::vector<float> x = signals::Generate(
        2 * rate, [&](size_t i) { return 0.25 * signals::Partials(partials, 220.0 * i / rate); });
    Analysis analysis = Analyse(x, rate);
    ASSERT_EQ(analysis.stretches.size(), 1u) << per_cycle;
    const Stretch& stretch = analysis.stretches[0];
    EXPECT_EQ(stretch.mark, Reliability::kHarmonics);
    EXPECT_NEAR(signals::Cents(stretch.median_hz, 220), 0, 5);
    EXPECT_NEAR(stretch.median_crossings_per_period, per_cycle, 0.02 * per_cycle);
  }
}

TEST(ReliabilityCheck, NoiseAndSilenceHaveNoPitch) {
  const int rate = 44100;
  struct Case {
    const char* name;
    std::vector<float> x;
  };
  const Case kCases[] = {{"silence", std::vector<float>(2 * rate, 0.0f)},
                         {"noise at -20 dBFS", signals::Noise(0.1, 2 * rate, 5)},
                         {"noise at -80 dBFS", signals::Noise(1e-4, 2 * rate, 6)}};
  for (const Case& c : kCases) {
    Analysis analysis = Analyse(c.x, rate);
    ASSERT_EQ(analysis.stretches.size(), 1u) << c.name;
    EXPECT_EQ(analysis.stretches[0].mark, Reliability::kNoPitch) << c.name;
    EXPECT_DOUBLE_EQ(analysis.stretches[0].end_s, 2.0) << c.name;
  }
}

// Silence, a clean note, a note with extra crossings, silence: stretches
// with those marks, changing within half a window of where the sound does
// (where a window straddles two sounds, a short stretch may come between).
TEST(ReliabilityCheck, StretchesFollowTheSound) {
  const int rate = 48000;
  const std::vector<signals::Partial> buzzy = {{1, 1.0, 0}, {3, 0.9, M_PI}, {5, 0.7, 0}};
  std::vector<float> x = signals::Generate(4 * rate, [&](size_t i) {
    double t = static_cast<double>(i) / rate;
    if (t < 0.5 || t >= 3.5) return 0.0;
    if (t < 2.0) return 0.5 * std::sin(2 * M_PI * 330 * t);
    return 0.25 * signals::Partials(buzzy, 165 * t);
  });
  Analysis analysis = Analyse(x, rate, 1000);
  const auto& stretches = analysis.stretches;
  ASSERT_GE(stretches.size(), 4u);
  EXPECT_EQ(stretches.front().start_s, 0);
  EXPECT_DOUBLE_EQ(stretches.back().end_s, 4.0);
  const double half_window = 4096.0 / rate;
  struct Segment {
    double start_s, end_s;
    Reliability mark;
    double hz;
  };
  const Segment kSegments[] = {{0, 0.5, Reliability::kNoPitch, 0},
                               {0.5, 2.0, Reliability::kOk, 330},
                               {2.0, 3.5, Reliability::kHarmonics, 165},
                               {3.5, 4.0, Reliability::kNoPitch, 0}};
  for (const Segment& segment : kSegments) {
    // One stretch covers the segment but for half a window at each inner edge.
    double from = segment.start_s > 0 ? segment.start_s + half_window : 0;
    double to = segment.end_s < 4.0 ? segment.end_s - half_window : 4.0;
    auto covering = std::find_if(stretches.begin(), stretches.end(), [&](const Stretch& s) {
      return s.start_s <= from && s.end_s >= to;
    });
    ASSERT_NE(covering, stretches.end()) << segment.start_s;
    EXPECT_EQ(covering->mark, segment.mark) << segment.start_s;
    if (segment.hz > 0) {
      EXPECT_NEAR(signals::Cents(covering->median_hz, segment.hz), 0, 5);
    }
    if (segment.mark == Reliability::kHarmonics) {
      EXPECT_NEAR(covering->median_crossings_per_period, 10, 0.2);
    }
  }
  for (size_t i = 1; i < stretches.size(); ++i) {
    EXPECT_EQ(stretches[i].start_s, stretches[i - 1].end_s);
    double nearest_edge = 10;
    for (double edge : {0.5, 2.0, 3.5}) {
      nearest_edge = std::min(nearest_edge, std::fabs(stretches[i].start_s - edge));
    }
    EXPECT_LE(nearest_edge, half_window + 256.0 / rate)
        << "a stretch starts at " << stretches[i].start_s;
  }
}

// The marking rule on its own, frame by frame.
TEST(ReliabilityCheck, MarksEachFrameByGateConfidenceAndCrossings) {
  const int rate = 44100, hop = 441;
  // 8820 samples at 100 Hz: 20 periods, 40 crossings for a clean tone; two
  // more can still be the window's edges, three more is beyond 2 x 1.01.
  struct Case {
    PitchFrame frame;
    CrossingWindow crossings;
    Reliability mark;
  };
  const Case kCases[] = {
      {{0, 100, 0.99, -20}, {40, 8820}, Reliability::kOk},
      {{0, 100, 0.99, -20}, {42, 8820}, Reliability::kOk},
      {{0, 100, 0.99, -20}, {43, 8820}, Reliability::kHarmonics},
      {{0, 100, 0.99, -20}, {120, 8820}, Reliability::kHarmonics},
      {{0, 100, 0.99, -20}, {22, 4410}, Reliability::kOk},  // half a window at an end
      {{0, 100, 0.99, -20}, {23, 4410}, Reliability::kHarmonics},
      {{0, 100, 0.99, -60.5}, {120, 8820}, Reliability::kNoPitch},
      {{0, 100, 0.79, -20}, {40, 8820}, Reliability::kNoPitch},
      {{0, 0, 0, -20}, {400, 8820}, Reliability::kNoPitch},
  };
  for (const Case& c : kCases) {
    ReliabilityCheck check(rate, hop);
    EXPECT_EQ(check.Add(c.frame, c.crossings), c.mark)
        << c.frame.hz << " Hz, confidence " << c.frame.confidence << ", " << c.frame.level_db
        << " dB, " << c.crossings.crossings << " crossings in " << c.crossings.samples;
  }
}

// Neighbours with the same mark merge; each stretch has the medians of its
// frames and covers half a hop either side of them, cut at 0 and the end.
TEST(ReliabilityCheck, MergesNeighboursWithMedians) {
  const int rate = 1000, hop = 100;  // frames 0.1 s apart, windows of 1000 samples
  ReliabilityCheck check(rate, hop);
  struct Step {
    double hz;
    uint32_t crossings;
    double level_db;
  };
  const Step kSteps[] = {{0, 0, -200},    {0, 3, -90},    {100, 200, -10},
                         {101, 201, -10}, {99, 199, -10}, {100, 202, -10},
                         {50, 300, -10},  {50, 320, -10}, {0, 0, -100}};
  for (size_t k = 0; k < std::size(kSteps); ++k) {
    PitchFrame frame{0.1 * k, kSteps[k].hz, 0.99, kSteps[k].level_db};
    check.Add(frame, {kSteps[k].crossings, 1000});
  }
  EXPECT_EQ(check.Stretches().size(), 3u) << "the last stretch stays open until Finish";
  check.Finish(0.83);
  const auto& stretches = check.Stretches();
  ASSERT_EQ(stretches.size(), 4u);
  EXPECT_EQ(stretches[0].mark, Reliability::kNoPitch);
  EXPECT_EQ(stretches[0].start_s, 0);
  EXPECT_DOUBLE_EQ(stretches[0].end_s, 0.15);
  EXPECT_EQ(stretches[0].frames, 2u);
  EXPECT_EQ(stretches[0].median_hz, 0);

  EXPECT_EQ(stretches[1].mark, Reliability::kOk);
  EXPECT_DOUBLE_EQ(stretches[1].start_s, 0.15);
  EXPECT_DOUBLE_EQ(stretches[1].end_s, 0.55);
  EXPECT_EQ(stretches[1].frames, 4u);
  EXPECT_DOUBLE_EQ(stretches[1].median_hz, 100);  // of 99, 100, 100, 101
  EXPECT_NEAR(stretches[1].median_crossings_per_period, (2.0 + 199.0 / 99) / 2, 1e-12);

  EXPECT_EQ(stretches[2].mark, Reliability::kHarmonics);
  EXPECT_DOUBLE_EQ(stretches[2].median_crossings_per_period, 6.2);  // of 6.0 and 6.4
  EXPECT_EQ(stretches[3].mark, Reliability::kNoPitch);
  EXPECT_DOUBLE_EQ(stretches[3].end_s, 0.83);
  EXPECT_STREQ(ReliabilityName(Reliability::kOk), "ok");
  EXPECT_STREQ(ReliabilityName(Reliability::kHarmonics), "harmonics");
  EXPECT_STREQ(ReliabilityName(Reliability::kNoPitch), "no pitch");
}

}  // namespace
}  // namespace tonevolt

namespace tonevolt {
namespace {

// HopLevels measures each frame's hop as the tracker does (fed in odd
// blocks, the frame count included), and NaN and infinities count as zero:
// a sine sprinkled with them is as loud as the sine with zeros there.
TEST(HopLevels, MatchTheTrackersHopsWithNonFiniteAsZero) {
  const int rate = 44100, hop = 2048;
  std::vector<float> sine = signals::Sine(440, rate, 50000);
  for (size_t i = 20000; i < 30000; ++i) sine[i] *= 0.001f;  // a quiet passage
  std::vector<float> zeros = sine, sprinkled = sine;
  for (size_t i = 50; i < sine.size(); i += 100) {
    zeros[i] = 0;
    sprinkled[i] = (i / 100) % 2 ? kNaN : -kInf;
  }
  PitchOptions options;
  options.hop = hop;
  std::string error;
  std::unique_ptr<PitchTracker> tracker = PitchTracker::Create(rate, options, &error);
  ASSERT_TRUE(tracker) << error;
  tracker->Process(zeros.data(), zeros.size());
  tracker->Finish();
  HopLevels levels(hop);
  for (size_t at = 0; at < sprinkled.size(); at += 777)
    levels.Process(sprinkled.data() + at, std::min<size_t>(777, sprinkled.size() - at));
  levels.Finish();
  const std::vector<PitchFrame>& frames = tracker->Frames();
  ASSERT_EQ(levels.Levels().size(), frames.size());
  for (size_t k = 0; k < frames.size(); ++k)
    EXPECT_NEAR(levels.Levels()[k], frames[k].level_db, 1e-6) << "frame " << k;
  EXPECT_LT(levels.Levels()[12], -60);  // inside the quiet passage
  EXPECT_NEAR(levels.Levels()[5], signals::Db(0.5 / std::sqrt(2)), 0.1);
}

}  // namespace
}  // namespace tonevolt
