// How the note report cuts the module's output into stretches: notes held
// within 50 cents, one frame's outlier, silence between notes, a glide, fixed
// slices and a settings change. Fed output values directly, at a 1 kHz file
// rate so that a stretch is a few hundred values; no check, so every entry
// is marked "no pitch" and only the cuts and readings are judged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "module/Readings.h"
#include "notes/NoteReport.h"

namespace tonevolt {
namespace {

constexpr double kFileRate = 1000;

// A piece of output: this many seconds holding the value that reads hz
// (0: silence) under settings, or gliding from hz to glide_to_hz.
struct Piece {
  double seconds, hz, glide_to_hz = 0;
};

std::vector<float> Output(const std::vector<Piece>& pieces, const Settings& settings) {
  std::vector<float> values;
  for (const Piece& p : pieces) {
    const size_t count = static_cast<size_t>(p.seconds * kFileRate + 0.5);
    for (size_t i = 0; i < count; ++i) {
      double hz =
          p.glide_to_hz > 0 ? p.hz * std::pow(p.glide_to_hz / p.hz, double(i) / count) : p.hz;
      values.push_back(hz > 0 ? static_cast<float>(NominalValue(hz, settings, kReferenceRate))
                              : 0.0f);
    }
  }
  return values;
}

struct Stretch {
  double start_s, end_s, reading_hz;
  bool steady;
};

std::vector<Stretch> Cut(const std::vector<float>& output, const ReportChoice& choice,
                         const SettingsTimelineList& timeline) {
  NoteReport report(choice, kFileRate, kReferenceRate, timeline, nullptr);
  std::string error;
  // In uneven blocks, as a resampler hands them on.
  for (size_t at = 0, block = 1; at < output.size(); at += block, block = block * 7 % 61 + 1) {
    std::vector<float> part(output.begin() + at,
                            output.begin() + std::min(output.size(), at + block));
    EXPECT_TRUE(report.Consume(part, part, &error));
  }
  EXPECT_TRUE(report.Finish(&error));
  std::vector<Stretch> stretches;
  for (const ReportEntry& e : report.Entries())
    stretches.push_back({e.start_s, e.end_s, e.reading_hz, e.steady});
  return stretches;
}

struct Case {
  const char* name;
  std::vector<Piece> pieces;
  std::vector<Stretch> expected;  // reading 0: not judged
};

// Values held exactly read exactly; a cut falls on a frame's edge (frames
// are 60 ms where the output has no ripple), so the ends are judged to a
// frame.
TEST(Stretches, NotesAreHeldPitchesWhateverTheBlocks) {
  const Settings settings;
  const SettingsTimelineList timeline = {{0, settings}};
  const std::vector<Case> cases = {
      {"two notes", {{0.6, 220}, {0.6, 330}}, {{0, 0.6, 220, true}, {0.6, 1.2, 330, true}}},
      {"a rest between",
       {{0.6, 220}, {0.3, 0}, {0.6, 220}},
       {{0, 0.6, 220, true}, {0.9, 1.5, 220, true}}},
      // One frame 60 cents off, the next back: the note's own unevenness.
      {"one frame off", {{0.6, 220}, {0.06, 228}, {0.6, 220}}, {{0, 1.26, 0, true}}},
      // Two frames off: a short note of their own.
      {"two frames off",
       {{0.6, 220}, {0.12, 262}, {0.6, 220}},
       {{0, 0.6, 220, true}, {0.6, 0.72, 262, true}, {0.72, 1.32, 220, true}}},
      // Two octaves a second: every frame its own pitch, run together.
      {"a glide", {{1.2, 200, 800}}, {{0, 1.2, 0, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Stretch> got = Cut(Output(c.pieces, settings), ReportChoice(), timeline);
    ASSERT_EQ(got.size(), c.expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_NEAR(got[i].start_s, c.expected[i].start_s, 0.061) << i;
      EXPECT_NEAR(got[i].end_s, c.expected[i].end_s, 0.061) << i;
      EXPECT_EQ(got[i].steady, c.expected[i].steady) << i;
      if (c.expected[i].reading_hz > 0) {
        EXPECT_NEAR(got[i].reading_hz, c.expected[i].reading_hz, 0.01) << i;
      }
    }
  }
}

TEST(Stretches, SlicesCutAtTheirLengthWhateverThePitch) {
  const Settings settings;
  std::vector<Stretch> got = Cut(Output({{0.5, 220}, {0.5, 330}}, settings),
                                 {ReportChoice::Kind::kSlices, 0.25}, {{0, settings}});
  const std::vector<Stretch> expected = {
      {0, 0.25, 220, true}, {0.25, 0.5, 220, true}, {0.5, 0.75, 330, true}, {0.75, 1.0, 330, true}};
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_DOUBLE_EQ(got[i].start_s, expected[i].start_s) << i;
    EXPECT_DOUBLE_EQ(got[i].end_s, expected[i].end_s) << i;
    EXPECT_NEAR(got[i].reading_hz, expected[i].reading_hz, 0.01) << i;
  }
}

// A reading never mixes settings: one pitch held across a change of scale
// is two stretches, each read under its own settings.
TEST(Stretches, ASettingsChangeEndsAStretch) {
  Settings khz, oct;
  oct.scale = Scale::kVoltPerOctave;
  std::vector<float> output = Output({{0.6, 220}}, khz);
  std::vector<float> after = Output({{0.6, 220}}, oct);
  output.insert(output.end(), after.begin(), after.end());
  std::vector<Stretch> got = Cut(output, ReportChoice(), {{0, khz}, {600, oct}});
  ASSERT_EQ(got.size(), 2u);
  EXPECT_DOUBLE_EQ(got[0].end_s, 0.6);
  EXPECT_DOUBLE_EQ(got[1].start_s, 0.6);
  EXPECT_NEAR(got[0].reading_hz, 220, 0.01);
  EXPECT_NEAR(got[1].reading_hz, 220, 0.5);
}

}  // namespace
}  // namespace tonevolt
