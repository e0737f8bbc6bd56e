// Sounds without a single pitch, through the built program: a chord's
// stretches are no single pitch in render, with no pre-filter to try, and
// advise finds no note in a chord or in speech; a single note keeps its
// reading. Material: harmonic tones made here, fluidsynth's piano notes
// mixed into a chord, espeak-ng's speech.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "CliRig.h"
#include "RealNotes.h"
#include "ReportRows.h"

namespace {

constexpr int kRate = 44100;
constexpr char kNoSinglePitch[] = "unreliable: no single pitch (a chord, or several sounds)";

double MidiHz(int midi) { return 440.0 * std::exp2((midi - 69) / 12.0); }

// Notes of six harmonics each (amplitudes 1 / n), sounding together.
std::vector<float> HarmonicNotes(const std::vector<int>& midi_notes, double seconds) {
  std::vector<float> x(static_cast<size_t>(seconds * kRate));
  for (int midi : midi_notes)
    for (int n = 1; n <= 6; ++n)
      for (size_t i = 0; i < x.size(); ++i)
        x[i] += static_cast<float>(0.12 / n *
                                   std::sin(2 * M_PI * n * MidiHz(midi) * i / kRate + 0.7 * n));
  return x;
}

// fluidsynth's piano notes mixed (their left channels): a real chord, or
// empty with the reason.
std::vector<float> PianoChord(const std::vector<int>& midi_notes, std::string* missing) {
  *missing = real_notes::Missing();
  std::vector<float> mix;
  if (!missing->empty()) return mix;
  for (int midi : midi_notes) {
    std::string path = real_notes::Note(0, midi, kRate);
    if (path.empty()) {
      *missing = "fluidsynth failed";
      return {};
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
      *missing = path + ": " + sf_strerror(nullptr);
      return {};
    }
    std::vector<float> frames(static_cast<size_t>(info.frames * info.channels)), note;
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    for (size_t i = 0; i < frames.size(); i += info.channels) note.push_back(frames[i]);
    mix.resize(std::max(mix.size(), note.size()));
    for (size_t i = 0; i < note.size(); ++i) mix[i] += note[i];
  }
  return mix;
}

class Chords : public CliTest {
 protected:
  // Writes x as in.wav and runs COMMAND on it.
  Result On(const std::vector<float>& x, const std::string& command) {
    WriteWav(Path("in.wav"), x, kRate);
    return Run(command + " '" + Path("in.wav") + "'");
  }
};

TEST_F(Chords, ChordsAreNoSinglePitchWithNoPrefilterToTry) {
  struct Case {
    const char* name;
    std::vector<int> notes;
    bool piano;
  };
  const Case kCases[] = {
      {"major_triad", {60, 64, 67}, false},  // its partials fit the series of C2 alone
      {"minor_triad_low", {45, 48, 52}, false},
      {"seventh_chord", {67, 71, 74, 77}, false},
      {"piano_major_triad", {60, 64, 67}, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<float> x = HarmonicNotes(c.notes, 2.0);
    if (c.piano) {
      std::string missing;
      x = PianoChord(c.notes, &missing);
      if (x.empty()) {
        std::printf("skipped %s: %s\n", c.name, missing.c_str());
        continue;
      }
    }
    Result render = On(x, "render --report notes");
    ASSERT_EQ(render.code, 0) << render.err;
    EXPECT_NE(render.out.find(kNoSinglePitch), std::string::npos) << render.out;
    EXPECT_EQ(render.out.find("  ok"), std::string::npos) << render.out;
    // A piano's third fades and swells as its strings beat: its attack, a
    // window or less, can still pass for one low note. Any longer stretch
    // is the chord, though it holds several pitches in only part of its
    // frames, not one note with a filter to try.
    if (!c.piano) {
      EXPECT_EQ(render.out.find("try --prefilter"), std::string::npos) << render.out;
    }
    for (const report_rows::Row& row : report_rows::Rows(render.out))
      if (row.end - row.start > 0.3)
        EXPECT_TRUE(row.text.find(kNoSinglePitch) != std::string::npos ||
                    row.text.find("no pitch (quiet") != std::string::npos)
            << row.text << "\n"
            << render.out;

    Result advise = On(x, "advise");
    EXPECT_EQ(advise.code, 1) << advise.out;
    EXPECT_NE(advise.out.find("holds several pitches at once"), std::string::npos) << advise.out;
    EXPECT_NE(advise.err.find("in.wav: no note to advise on: "), std::string::npos) << advise.err;
    EXPECT_NE(advise.err.find("several at once (chords?)"), std::string::npos) << advise.err;
    EXPECT_EQ(advise.out.find("suggested:"), std::string::npos) << advise.out;
  }
}

TEST_F(Chords, SpeechHasNoNoteToAdviseOn) {
  if (std::system("command -v espeak-ng >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "espeak-ng is not installed";
  for (const char* voice : {"en", "en-us", "de"}) {
    SCOPED_TRACE(voice);
    std::string command = std::string("espeak-ng -v ") + voice + " -w '" + Path("in.wav") +
                          "' 'The quick brown fox jumps over the lazy dog, and then it runs "
                          "away into the forest before anyone notices.'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    Result advise = Run("advise '" + Path("in.wav") + "'");
    EXPECT_EQ(advise.code, 1) << advise.out;
    EXPECT_NE(advise.err.find("in.wav: no note to advise on: "), std::string::npos) << advise.err;
    EXPECT_NE(advise.err.find("(speech?)"), std::string::npos) << advise.err;
    EXPECT_EQ(advise.err.find('\n'), advise.err.size() - 1) << "one line: " << advise.err;
  }
}

// Its partials fit its own series: render checks its crossings, advise
// advises on it.
TEST_F(Chords, ASingleHarmonicToneKeepsItsNote) {
  for (int midi : {33, 57, 76}) {
    SCOPED_TRACE(midi);
    std::vector<float> x = HarmonicNotes({midi}, 2.0);
    Result render = On(x, "render --report notes");
    ASSERT_EQ(render.code, 0) << render.err;
    EXPECT_EQ(render.out.find("unreliable: no"), std::string::npos) << render.out;

    Result advise = On(x, "advise");
    EXPECT_EQ(advise.code, 0) << advise.err;
    EXPECT_NE(advise.out.find("1 note tracked"), std::string::npos) << advise.out;
  }
}

}  // namespace
