#include <gtest/gtest.h>

#include <cmath>

#include "Signals.h"
#include "analysis/PitchTracker.h"

namespace tonevolt {
namespace {

using signals::Cents;

std::vector<PitchFrame> Track(const std::vector<float>& x, int rate, size_t block = 4096,
                              const PitchOptions& options = PitchOptions()) {
  std::string error;
  auto tracker = PitchTracker::Create(rate, options, &error);
  EXPECT_TRUE(tracker) << error;
  if (!tracker) return {};
  signals::InBlocks(x, block, [&](const float* in, size_t count) { tracker->Process(in, count); });
  tracker->Finish();
  return tracker->Frames();
}

// Frames whose whole window lies within the input.
template <typename Check>
void ForInnerFrames(const std::vector<PitchFrame>& frames, size_t count, int rate, Check check) {
  PitchOptions options;
  double half = 0.5 * options.window / rate, end = static_cast<double>(count) / rate;
  int checked = 0;
  for (const PitchFrame& frame : frames) {
    if (frame.time_s >= half && frame.time_s + half <= end) {
      check(frame);
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

TEST(PitchTracker, ReadsSinesAndASawtoothWithinFiveCents) {
  struct Case {
    const char* wave;
    double hz;
    int rate;
  };
  const Case kCases[] = {{"sine", 55, 44100},   {"sine", 110, 44100}, {"sine", 440, 44100},
                         {"sine", 1760, 44100}, {"sine", 55, 48000},  {"sine", 1760, 96000},
                         {"sine", 27.5, 44100}, {"saw", 110, 44100},  {"saw", 55, 48000},
                         {"saw", 440, 44100}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.wave) + " " + std::to_string(c.hz) + " Hz at " +
                 std::to_string(c.rate));
    size_t count = 2 * c.rate;
    std::vector<float> x = signals::Generate(count, [&](size_t i) {
      double cycles = c.hz * i / c.rate;
      if (std::string(c.wave) == "sine") return 0.5 * std::sin(2 * M_PI * cycles);
      return 0.5 * (2 * (cycles - std::floor(cycles)) - 1);
    });
    ForInnerFrames(Track(x, c.rate), count, c.rate, [&](const PitchFrame& frame) {
      ASSERT_GT(frame.hz, 0) << frame.time_s;
      EXPECT_NEAR(Cents(frame.hz, c.hz), 0, 5) << frame.time_s;
      EXPECT_GT(frame.confidence, 0.95) << frame.time_s;
    });
  }
}

// With fundamental_peak the pitch is the fundamental's peak, at its own
// frequency: a piano's stretched partials pull the period's pitch sharp. A
// missing fundamental leaves the pitch on the note heard, and the second
// partial as the lowest, with or without the option.
TEST(PitchTracker, FundamentalPeakFindsTheLowestPartial) {
  struct Case {
    const char* name;
    double hz;
    double first_amplitude;  // of the fundamental; the others fall as 1/n
    double stretch;          // partial n at n hz sqrt(1 + stretch n^2)
    double expected_hz;
    double plain_off_cents;  // without the option the period's pitch is at least this far off
    int lowest_partial;
  };
  const Case kCases[] = {
      {"stretched_partials", 110, 0.3, 4e-4, 110 * std::sqrt(1 + 4e-4), 5, 1},
      {"missing_fundamental", 262, 0.0, 0, 262, -1, 2},
      {"harmonic_sawlike", 440, 0.3, 0, 440, -1, 1},
  };
  const int rate = 44100;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    size_t count = 2 * rate;
    std::vector<float> x = signals::Generate(count, [&](size_t i) {
      double t = static_cast<double>(i) / rate,
             sum = c.first_amplitude * std::sin(2 * M_PI * c.hz * t);
      for (int n = 2; n <= 8; ++n)
        sum += 0.3 / n * std::sin(2 * M_PI * n * c.hz * std::sqrt(1 + c.stretch * n * n) * t + n);
      return sum;
    });
    PitchOptions options;
    options.fundamental_peak = true;
    ForInnerFrames(Track(x, rate, 4096, options), count, rate, [&](const PitchFrame& frame) {
      EXPECT_NEAR(Cents(frame.hz, c.expected_hz), 0, 1) << frame.time_s;
      EXPECT_EQ(frame.lowest_partial, c.lowest_partial) << frame.time_s;
    });
    ForInnerFrames(Track(x, rate), count, rate, [&](const PitchFrame& frame) {
      if (c.plain_off_cents > 0)
        EXPECT_GT(std::fabs(Cents(frame.hz, c.expected_hz)), c.plain_off_cents) << frame.time_s;
      EXPECT_EQ(frame.lowest_partial, c.lowest_partial) << frame.time_s;
    });
  }
}

// Frame k is centred on sample k * hop: on a glide, each frame reads the
// frequency at its own time, not at its window's end (93 ms later, some 50
// cents off here).
TEST(PitchTracker, FrameTimesAreWindowCentres) {
  const int rate = 44100;
  size_t count = 3 * rate;
  auto glide_hz = [](double t) { return 200 + 100 * t; };
  std::vector<float> x = signals::Generate(count, [&](size_t i) {
    double t = static_cast<double>(i) / rate;
    return 0.5 * std::sin(2 * M_PI * (200 * t + 50 * t * t));
  });
  std::vector<PitchFrame> frames = Track(x, rate);
  ASSERT_EQ(frames.size(), (count + 511) / 512);
  for (size_t k = 0; k < frames.size(); ++k) {
    ASSERT_DOUBLE_EQ(frames[k].time_s, k * 512.0 / rate);
  }
  ForInnerFrames(frames, count, rate, [&](const PitchFrame& frame) {
    EXPECT_NEAR(Cents(frame.hz, glide_hz(frame.time_s)), 0, 5) << frame.time_s;
  });
}

// The level is that of the hop centred on the frame's time, within the input.
TEST(PitchTracker, LevelIsTheHopAroundTheFrame) {
  const int rate = 48000;
  const size_t count = 2 * rate;
  const size_t on = rate / 2, off = rate;  // a tone from 0.5 s to 1 s, 4 periods a hop
  std::vector<float> x = signals::Generate(count, [&](size_t i) {
    return i >= on && i < off ? 0.5 * std::sin(2 * M_PI * 375.0 * i / rate) : 0.0;
  });
  std::vector<PitchFrame> frames = Track(x, rate, 100);
  double half_hop = 256.0 / rate;
  for (const PitchFrame& frame : frames) {
    double t = frame.time_s;
    if (t + half_hop <= 0.5 || t - half_hop >= 1.0) {
      EXPECT_EQ(frame.level_db, -200) << t;
    } else if (t - half_hop >= 0.5 && t + half_hop <= 1.0) {
      EXPECT_NEAR(frame.level_db, signals::Db(0.5 / std::sqrt(2)), 0.05) << t;
    } else {
      EXPECT_GT(frame.level_db, -60) << t;  // straddles an edge
    }
    // Silence the whole window through: no pitch.
    if (t + 4096.0 / rate <= 0.5 || t - 4096.0 / rate >= 1.0) {
      EXPECT_EQ(frame.hz, 0) << t;
    }
    // A window half full of the tone still reads it: the end of a note keeps its pitch.
    if (t >= 0.5 && t <= 1.0) {
      EXPECT_NEAR(Cents(frame.hz, 375), 0, 5) << t;
    }
  }
}

TEST(PitchTracker, SilenceAndQuietNoiseGivePitchNoneOrBelowTheGate) {
  const int rate = 44100;
  for (double rms : {0.0, 1e-4}) {
    std::vector<float> x = signals::Noise(rms, 2 * rate, 3);
    for (const PitchFrame& frame : Track(x, rate)) {
      EXPECT_TRUE(frame.level_db < -60 || frame.confidence < 0.5) << rms << " at " << frame.time_s;
      if (rms > 0) {
        EXPECT_NEAR(frame.level_db, -80, 3) << frame.time_s;
      }
    }
  }
  // Loud white noise has no pitch either.
  for (const PitchFrame& frame : Track(signals::Noise(0.1, 2 * rate, 4), rate)) {
    EXPECT_LT(frame.confidence, 0.5) << frame.time_s;
  }
}

TEST(PitchTracker, BlockLengthDoesNotChangeTheFrames) {
  const int rate = 44100;
  std::vector<float> x = signals::Generate(rate + 777, [&](size_t i) {
    return 0.3 * std::sin(2 * M_PI * 146.83 * i / rate) +
           0.1 * std::sin(2 * M_PI * 440.5 * i / rate);
  });
  std::vector<PitchFrame> expected = Track(x, rate, x.size());
  for (size_t block : {1, 100, 511, 513, 65536}) {
    std::vector<PitchFrame> frames = Track(x, rate, block);
    ASSERT_EQ(frames.size(), expected.size()) << block;
    for (size_t k = 0; k < frames.size(); ++k) {
      EXPECT_EQ(frames[k].hz, expected[k].hz) << block << ", frame " << k;
      EXPECT_EQ(frames[k].confidence, expected[k].confidence) << block << ", frame " << k;
      EXPECT_EQ(frames[k].level_db, expected[k].level_db) << block << ", frame " << k;
    }
  }
}

// Any hop, also one that does not divide half the window, keeps frame k at
// sample k * hop.
TEST(PitchTracker, OtherHopsKeepTheTimeConvention) {
  const int rate = 44100;
  std::vector<float> x = signals::Sine(220, rate, rate);
  for (int hop : {441, 1024, 4096}) {
    PitchOptions options;
    options.hop = hop;
    std::vector<PitchFrame> frames = Track(x, rate, 1000, options);
    ASSERT_EQ(frames.size(), (x.size() + hop - 1) / hop) << hop;
    for (size_t k = 0; k < frames.size(); ++k) {
      ASSERT_DOUBLE_EQ(frames[k].time_s, static_cast<double>(k * hop) / rate);
      EXPECT_NEAR(Cents(frames[k].hz, 220), 0, 5) << hop << ", frame " << k;
    }
  }
}

// Tones of harmonic partials, for the test of one pitch: partial n of a note
// at n hz sqrt(1 + stretch n^2), its amplitude 1 / n (the fundamental's
// `first`), its frequency swung by `vibrato_cents` at 5.5 Hz.
struct Note {
  double hz;
  int partials = 10;
  double first = 1;
  double stretch = 0;
  double vibrato_cents = 0;
};

std::vector<float> Sound(const std::vector<Note>& notes, int rate, size_t count, double noise_rms) {
  std::vector<float> x = signals::Noise(noise_rms, count, 7);
  for (const Note& note : notes) {
    for (int n = 1; n <= note.partials; ++n) {
      double amplitude = (n == 1 ? note.first : 1.0 / n) * 0.15;
      double hz = n * note.hz * std::sqrt(1 + note.stretch * n * n);
      double swing = hz * (std::exp2(note.vibrato_cents / 1200) - 1);
      for (size_t i = 0; i < count; ++i) {
        double t = static_cast<double>(i) / rate;
        double phase = hz * t - swing * std::cos(2 * M_PI * 5.5 * t) / (2 * M_PI * 5.5);
        x[i] += static_cast<float>(amplitude * std::sin(2 * M_PI * phase + n));
      }
    }
  }
  return x;
}

// A chord's partials fit one harmonic series only far below its lowest note
// (C-E-G: C2), or none; a single note's fit its own, with the fundamental
// missing, stretched as a piano's, swung by vibrato or in noise.
TEST(PitchTracker, TellsSeveralPitchesFromOne) {
  const double C4 = 261.63, E4 = 329.63, G4 = 392.0, A3 = 220.0, B4 = 493.88;
  struct Case {
    const char* name;
    std::vector<Note> notes;
    double noise_rms;
    bool several;
  };
  const Case kCases[] = {
      {"major_triad_of_sines", {{C4, 1}, {E4, 1}, {G4, 1}}, 0, true},
      {"minor_triad", {{A3}, {C4}, {E4}}, 0, true},
      {"major_third_of_sines", {{C4, 1}, {E4, 1}}, 0, true},
      {"seventh_chord_low", {{C4 / 4}, {E4 / 4}, {G4 / 4}, {B4 / 4}}, 0, true},
      {"sixth_of_sines", {{440, 1}, {740, 1}}, 0, true},  // partials 3 and 5 of D3
      {"piano_like_triad", {{C4, 10, 1, 4e-4}, {E4, 10, 1, 4e-4}, {G4, 10, 1, 4e-4}}, 0.001, true},
      {"sawtooth_like_note", {{110}}, 0, false},
      {"missing_fundamental", {{55, 12, 0}}, 0, false},
      {"piano_like_low_note", {{27.5, 30, 0.05, 3e-4}}, 0.001, false},
      {"stretched_partials", {{220, 12, 1, 1e-3}}, 0, false},
      {"vibrato", {{660, 6, 1, 0, 60}}, 0, false},
      {"note_in_noise", {{330}}, 0.01, false},
      {"sine", {{1000, 1}}, 0, false},
  };
  const int rate = 44100;
  const size_t count = rate;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    // Every inner frame sounds; a chord's may have no pitch in the tracker
    // (a blur of several), but its spectrum still holds several.
    int frames = 0, pitched = 0, several = 0;
    ForInnerFrames(Track(Sound(c.notes, rate, count, c.noise_rms), rate), count, rate,
                   [&](const PitchFrame& frame) {
                     ++frames;
                     pitched += frame.hz > 0;
                     several += frame.several_pitches;
                   });
    // Frame by frame, up to one in ten may err: the checks count stretches
    // by their frames' majority.
    if (c.several) {
      EXPECT_GE(several, frames * 0.9) << frames;
    } else {
      EXPECT_GE(pitched, frames * 0.9) << frames;
      EXPECT_LE(several, frames * 0.1) << frames;
    }
  }
}

// Noise has no partials that stand out: no pitch, but not several either,
// though its spectrum is looked at wherever it sounds.
TEST(PitchTracker, NoiseHoldsNoSeveralPitches) {
  const int rate = 44100;
  std::vector<float> x = signals::Noise(0.1, rate, 3);
  // Brown noise: the likeliest to show low "partials".
  double level = 0;
  for (float& v : x) v = static_cast<float>(level = 0.995 * level + 0.1 * v);
  for (const PitchFrame& frame : Track(x, rate)) {
    EXPECT_FALSE(frame.several_pitches) << frame.time_s << " s, " << frame.hz << " Hz";
  }
}

TEST(PitchTracker, RefusesOptionsItCannotRunWith) {
  struct Case {
    int rate;
    int window;
    int hop;
  };
  for (const Case& c : {Case{0, 8192, 512}, Case{44100, 8000, 512}, Case{44100, 512, 256},
                        Case{44100, 8192, 0}, Case{44100, 8192, 4097}, Case{44100, 131072, 512}}) {
    PitchOptions options;
    options.window = c.window;
    options.hop = c.hop;
    std::string error;
    EXPECT_EQ(PitchTracker::Create(c.rate, options, &error), nullptr)
        << c.rate << " " << c.window << " " << c.hop;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace tonevolt
