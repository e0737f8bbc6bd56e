// The melody tracker on tones where a simpler tracker reads an octave off:
// a fundamental far under its second harmonic, odd harmonics only, notes at
// either end of its range; silence; and where in time its frames fall.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Signals.h"
#include "conditioning/Frequency.h"
#include "conditioning/MelodyTracker.h"

namespace tonevolt {
namespace {

using signals::Cents;
using signals::Partial;
using signals::Partials;

// Every frame the tracker decides for x, fed in blocks as the stage feeds it.
std::vector<MelodyFrame> Track(const std::vector<float>& x, double rate, int64_t* hop) {
  MelodyTracker tracker(rate);
  std::vector<MelodyFrame> frames;
  auto take = [&] {
    for (size_t i = 0; i < tracker.Ready(); ++i) frames.push_back(tracker.Frame(i));
    tracker.Pop(tracker.Ready());
  };
  signals::InBlocks(x, 1000, [&](const float* block, size_t count) {
    tracker.Process(block, count);
    take();
  });
  tracker.Finish();
  take();
  *hop = tracker.Hop();
  return frames;
}

std::vector<float> Tone(const std::vector<Partial>& partials, double hz, double rate,
                        double seconds) {
  return signals::Generate(static_cast<size_t>(seconds * rate), [&](size_t i) {
    return Partials(partials, hz * static_cast<double>(i) / rate);
  });
}

// A fundamental 20 dB under its second harmonic.
const std::vector<Partial> kWeakFundamental = {{1, 0.05, 0}, {2, 0.5, 0.4}, {3, 0.3, 1.1}};
// A clarinet's odd harmonics, the third stronger than the fundamental.
const std::vector<Partial> kOddHarmonics = {
    {1, 0.2, 0}, {3, 0.3, 0.3}, {5, 0.15, 0.9}, {7, 0.1, 2.0}, {9, 0.05, 0.5}};
const std::vector<Partial> kSine = {{1, 0.5, 0}};
// A bright low tone: eight harmonics falling as 1/k.
const std::vector<Partial> kSawtoothLike = {{1, 0.4, 0},   {2, 0.2, 0},  {3, 0.133, 0},
                                            {4, 0.1, 0},   {5, 0.08, 0}, {6, 0.067, 0},
                                            {7, 0.057, 0}, {8, 0.05, 0}};

struct ToneCase {
  const char* name;
  const std::vector<Partial>* partials;
  double midi_note;
  double rate;
};

// Each frame from 60 ms on reads the note within 50 cents, up to the last
// whose span (two of the longest periods searched) lies within the tone.
TEST(MelodyTracker, ReadsTheFundamentalOfTonesThatFoolSimplerTrackers) {
  const ToneCase kCases[] = {
      {"weak fundamental A2", &kWeakFundamental, 45, 44100},
      {"weak fundamental A3", &kWeakFundamental, 57, 48000},
      {"weak fundamental E1", &kWeakFundamental, 28, 44100},
      {"odd harmonics D3", &kOddHarmonics, 50, 44100},
      {"odd harmonics G4", &kOddHarmonics, 67, 48000},
      {"sine C6 at 44.1 kHz", &kSine, 84, 44100},
      {"sine C6 at 48 kHz", &kSine, 84, 48000},
      {"sine C7 at 44.1 kHz", &kSine, 96, 44100},
      {"sine C7 at 48 kHz", &kSine, 96, 48000},
      {"odd harmonics C6 at 96 kHz", &kOddHarmonics, 84, 96000},
      {"sine E1", &kSine, 28, 44100},
      {"bright E1", &kSawtoothLike, 28, 48000},
  };
  for (const ToneCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const double hz = MidiNoteHz(c.midi_note), seconds = 0.6;
    int64_t hop = 0;
    std::vector<MelodyFrame> frames = Track(Tone(*c.partials, hz, c.rate, seconds), c.rate, &hop);
    const size_t expected = static_cast<size_t>(std::ceil(seconds * c.rate / hop));
    EXPECT_EQ(frames.size(), expected);
    int wrong = 0;
    for (size_t k = 0; k < frames.size(); ++k) {
      const double at = static_cast<double>(k * hop) / c.rate;
      if (at < 0.06 || at > seconds - 1 / MelodyOptions().lowest_hz) continue;
      const bool near = frames[k].hz > 0 && std::fabs(Cents(frames[k].hz, hz)) < 50;
      if (!near && ++wrong <= 3)
        ADD_FAILURE() << "frame " << k << " at " << at << " s reads " << frames[k].hz << " Hz for "
                      << hz;
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(MelodyTracker, SilenceHasNoPitch) {
  for (double rate : {44100.0, 48000.0}) {
    int64_t hop = 0;
    std::vector<MelodyFrame> frames = Track(std::vector<float>(48000, 0.0f), rate, &hop);
    ASSERT_FALSE(frames.empty());
    for (const MelodyFrame& f : frames) EXPECT_EQ(f.hz, 0) << rate;
  }
}

// Frame k is centred on sample k * Hop(): away from a change by more than
// two frames (a span, 49 ms, holds both sides of it for 2.4 frames), every
// frame reads the note or silence on its own side.
TEST(MelodyTracker, FramesAreCentredWhereHopSays) {
  struct StepCase {
    const char* name;
    double rate;
    double from_hz, to_hz;  // to_hz 0: silence
    double at_s;
  };
  const StepCase kCases[] = {
      {"A3 to E4", 44100, 220, 329.63, 0.4},
      {"E4 to A3", 48000, 329.63, 220, 0.437},
      {"A2 to A4", 44100, 110, 440, 0.3},
      {"A4 to silence", 48000, 440, 0, 0.35},
  };
  for (const StepCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const size_t change = static_cast<size_t>(c.at_s * c.rate);
    double phase = 0;
    std::vector<float> x = signals::Generate(static_cast<size_t>(0.8 * c.rate), [&](size_t i) {
      const double hz = i < change ? c.from_hz : c.to_hz;
      phase += hz / c.rate;
      return hz > 0 ? 0.5 * std::sin(2 * M_PI * phase) : 0.0;
    });
    int64_t hop = 0;
    std::vector<MelodyFrame> frames = Track(x, c.rate, &hop);
    const double at_frame = c.at_s * c.rate / static_cast<double>(hop);
    const double within = 2;
    for (size_t k = 0; k < frames.size(); ++k) {
      const double at = static_cast<double>(k * hop) / c.rate;
      if (at < 0.06 || std::fabs(static_cast<double>(k) - at_frame) <= within) continue;
      const double truth = k < at_frame ? c.from_hz : c.to_hz;
      if (truth == 0) {
        EXPECT_EQ(frames[k].hz, 0) << "frame " << k << " at " << at << " s";
      } else {
        EXPECT_GT(frames[k].hz, 0) << "frame " << k << " at " << at << " s";
        EXPECT_NEAR(Cents(frames[k].hz, truth), 0, 50) << "frame " << k << " at " << at << " s";
      }
    }
  }
}

}  // namespace
}  // namespace tonevolt
