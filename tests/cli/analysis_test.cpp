// The analysis behind the tool's tables and summaries, on exact cases.
#include "module/Readings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tonevolt {
namespace {

Settings Khz(int octave = 0) {
  Settings s;
  s.octave = octave;
  return s;
}

Settings Oct(int octave = 0) {
  Settings s = Khz(octave);
  s.scale = Scale::kVoltPerOctave;
  return s;
}

struct ImpliedCase {
  const char* name;
  Settings settings;
  double rate, value, hz;
};

const ImpliedCase kImpliedCases[] = {
    {"khz_625_hz", Khz(), 44100, 0.0625, 625.0},
    {"khz_full_scale", Khz(), 44100, 1.0, 10000.0},
    {"khz_octave_up_halves", Khz(+1), 44100, 0.0625, 312.5},
    {"khz_octave_down_3_doubles_thrice", Khz(-3), 44100, 0.0625, 5000.0},
    {"khz_double_rate_doubles", Khz(), 88200, 0.0625, 1250.0},
    {"khz_zero_is_no_pitch", Khz(), 44100, 0.0, 0.0},
    {"khz_negative_is_no_pitch", Khz(), 44100, -0.125, 0.0},
    {"khz_nan_is_no_pitch", Khz(), 44100, std::numeric_limits<double>::quiet_NaN(), 0.0},
    {"oct_5_volts_is_a4", Oct(), 44100, 0.5, 440.0},
    {"oct_6_volts_is_a5", Oct(), 44100, 0.6, 880.0},
    {"oct_4_volts_is_a3", Oct(), 44100, 0.4, 220.0},
    {"oct_octave_down_2", Oct(-2), 44100, 0.5, 1760.0},
    {"oct_no_pitch_minus_9_volts", Oct(), 44100, -0.9, 440.0 / 16384.0},
    {"oct_rate_48000", Oct(), 48000, 0.5, 440.0 * 48000.0 / 44100.0},
};

TEST(ImpliedHz, ReadsEachScaleShiftAndRate) {
  for (const ImpliedCase& c : kImpliedCases) {
    SCOPED_TRACE(c.name);
    EXPECT_DOUBLE_EQ(ImpliedHz(c.value, c.settings, c.rate), c.hz);
    if (c.hz > 0) {
      EXPECT_DOUBLE_EQ(NominalValue(c.hz, c.settings, c.rate), c.value);
    }
  }
}

struct NoteCase {
  double hz;
  const char* name;
  double cents;
};

const NoteCase kNoteCases[] = {
    {440.0, "A4", 0.0},
    {27.5, "A0", 0.0},
    {261.6255653005986, "C4", 0.0},
    {466.1637615180899, "A#4", 0.0},
    {8.175798915643707, "C-1", 0.0},             // MIDI note 0
    {440.0 * 1.0174796921026863, "A4", 30.0},    // 2^(30/1200)
    {440.0 * 0.9720932821144873, "A4", -49.0},   // 2^(-49/1200)
    {440.0 * 1.0298969566748981, "A#4", -49.0},  // 2^(51/1200)
    {7.99, "-", 0.0},                            // below the lowest note named
    {1e6, "-", 0.0},
    {0.0, "-", 0.0},
    {std::numeric_limits<double>::quiet_NaN(), "-", 0.0},
};

TEST(NoteName, NamesTheNearestNoteAndTheCentsOff) {
  for (const NoteCase& c : kNoteCases) {
    SCOPED_TRACE(c.hz);
    double cents = 123.0;
    EXPECT_EQ(NoteName(c.hz, &cents), c.name);
    EXPECT_NEAR(cents, c.cents, 1e-9);  // as exact as the constants above
  }
  EXPECT_DOUBLE_EQ(Cents(880.0, 440.0), 1200.0);
  EXPECT_DOUBLE_EQ(Cents(220.0, 440.0), -1200.0);
}

// A ripple period of 8 samples that rises at its first sample.
const float kRipple[8] = {0.0f, 0.5f, 0.375f, 0.25f, 0.125f, 0.0625f, 0.03125f, 0.0f};
constexpr double kRippleMean = 1.34375 / 8;

struct SettleCase {
  const char* name;
  std::vector<float> values;
  Settings settings;
  Settled expected;
};

std::vector<float> Steps(std::vector<std::pair<size_t, float>> runs) {
  std::vector<float> values;
  for (auto [count, value] : runs) values.insert(values.end(), count, value);
  return values;
}

// Ten samples of silence, then a rippling note; 60 samples, so the settled
// half (30..59) holds three whole periods (32..55) and two partial ones.
std::vector<float> RipplingNote() {
  std::vector<float> values(60, 0.0f);
  for (size_t i = 10; i < values.size(); ++i) values[i] = 1.0f + kRipple[i % 8];
  return values;
}

const SettleCase kSettleCases[] = {
    {"constant", Steps({{100, 0.25f}}), Khz(), {0.25, 0.0, 0}},
    {"ramp_settles_when_within_1_percent",
     [] {
       std::vector<float> v(100, 0.5f);
       for (size_t i = 0; i < 20; ++i) v[i] = 0.5f * i / 20;  // 0.495 reached at 19.8
       return v;
     }(),
     Khz(),
     {0.5, 0.0, 20}},
    {"mean_over_whole_ripple_periods", RipplingNote(), Khz(), {1.0 + kRippleMean, 0.5, 10}},
    // 1 % is 0.005 at 0.5 in 1 V/kHz but log2(1.01)/10 = 0.00144 in 1 V/oct.
    {"khz_band_is_1_percent_of_the_value",
     Steps({{3, 0.49f}, {2, 0.4975f}, {95, 0.5f}}),
     Khz(),
     {0.5, 0.0, 3}},
    {"oct_band_is_1_percent_in_frequency",
     Steps({{3, 0.49f}, {2, 0.4975f}, {95, 0.5f}}),
     Oct(),
     {0.5, 0.0, 5}},
    {"too_short", Steps({{3, 0.5f}}), Khz(), {0.0, 0.0, 0}},
};

TEST(AnalyseNote, MeanRippleAndSettling) {
  for (const SettleCase& c : kSettleCases) {
    SCOPED_TRACE(c.name);
    Settled settled = AnalyseNote(c.values.data(), c.values.size(), c.settings);
    EXPECT_DOUBLE_EQ(settled.mean, c.expected.mean);
    EXPECT_DOUBLE_EQ(settled.ripple, c.expected.ripple);
    EXPECT_EQ(settled.settle_samples, c.expected.settle_samples);
  }
}

}  // namespace
}  // namespace tonevolt
