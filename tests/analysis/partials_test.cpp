// The partials' own reading of the pitch, apart from any tracker's: the
// one harmonic series they fit.
#include <gtest/gtest.h>

#include <cmath>

#include "Signals.h"
#include "analysis/Partials.h"

namespace tonevolt {
namespace {

constexpr int kRate = 44100;
constexpr int kWindow = 8192;

// Partials 1..8 of each fundamental, the first at `first`, the others 1/n.
std::vector<float> Tone(const std::vector<double>& fundamentals, double first) {
  return signals::Generate(kWindow, [&](size_t i) {
    double sum = 0;
    for (double hz : fundamentals)
      for (int n = 1; n <= 8; ++n)
        sum += (n == 1 ? first : 1.0 / n) * 0.1 * std::sin(2 * M_PI * n * hz * i / kRate + n);
    return sum;
  });
}

// A tracker an octave or a twelfth off (the undertone of a weak
// fundamental, a strong second harmonic) is put back on the note; a right
// one is kept; a chord fits no series; noise has no partials to say.
TEST(WindowPartials, SeriesIsThePlayedNoteWhateverTheTrackerSays) {
  const double A3 = 220;
  struct Case {
    const char* name;
    std::vector<float> sound;
    double tracked_hz;
    double series_hz;  // 0: several pitches; -1: no partials
  };
  const Case kCases[] = {
      {"right", Tone({A3}, 1), A3, A3},
      {"weak_fundamental_read_an_octave_high", Tone({A3}, 0.05), 2 * A3, A3},
      {"read_an_octave_low", Tone({A3}, 1), A3 / 2, A3},
      {"read_a_twelfth_high", Tone({A3}, 0.05), 3 * A3, A3},
      {"no_tracked_pitch", Tone({A3}, 1), 0, A3},
      {"major_triad", Tone({261.63, 329.63, 392.0}, 1), 261.63, 0},
      {"noise", signals::Noise(0.1, kWindow, 3), 300, WindowPartials::kNoPartials},
  };
  WindowPartials spectrum(kWindow, kRate);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    spectrum.Analyse(c.sound.data());
    const double series = spectrum.Series(c.tracked_hz);
    if (c.series_hz > 0) {
      ASSERT_GT(series, 0);
      EXPECT_NEAR(1200 * std::log2(series / c.series_hz), 0, 10);
    } else {
      EXPECT_EQ(series, c.series_hz);
    }
    EXPECT_EQ(spectrum.SeveralPitches(c.tracked_hz), c.series_hz == 0);
  }
}

}  // namespace
}  // namespace tonevolt
