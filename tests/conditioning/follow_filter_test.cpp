// The following pre-filter steered as the render stage steers it: a band
// that moves, on one pitch or at a change of note, must give the module no
// crossing the input lacks and no click.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "Signals.h"
#include "conditioning/FollowFilter.h"
#include "conditioning/Prefilter.h"

namespace tonevolt {
namespace {

constexpr double kRate = 44100;
constexpr double kAmplitude = 0.5;

struct Segment {
  double seconds;
  double hz;        // the sine played
  double steer_hz;  // the pitch the band is steered to for it
};

struct SwitchCase {
  const char* name;
  std::vector<Segment> segments;
};

// Where x changes sign in [begin, end).
std::vector<size_t> SignChanges(const std::vector<float>& x, size_t begin, size_t end) {
  std::vector<size_t> at;
  for (size_t i = std::max<size_t>(begin, 1); i < std::min(end, x.size()); ++i)
    if ((x[i - 1] < 0) != (x[i] < 0)) at.push_back(i);
  return at;
}

// How late a sine at hz comes out of the band for band_hz.
double BandDelaySeconds(double band_hz, double hz) {
  std::string error;
  auto band = Prefilter::Create({PrefilterChoice::Kind::kBand, band_hz}, kRate, &error);
  return band->DelaySeconds(hz);
}

// Each segment's steering lands a fade ahead of it, as the stage's lead
// puts it, so that the new band is in place when its note starts. The sine
// runs on in phase across each change.
TEST(FollowFilter, MovingTheBandAddsNoCrossingAndNoClick) {
  const SwitchCase kCases[] = {
      {"one pitch, band down two semitones and up three",
       {{0.3, 220, 220}, {0.3, 220, 196}, {0.3, 220, 261.63}}},
      {"fifth then fourth up", {{0.3, 220, 220}, {0.3, 330, 330}, {0.3, 440, 440}}},
      {"octave down", {{0.3, 440, 440}, {0.3, 220, 220}}},
      {"two octaves up", {{0.3, 110, 110}, {0.3, 440, 440}}},
      {"E1 to E2 and back", {{0.4, 41.2, 41.2}, {0.3, 82.4, 82.4}, {0.4, 41.2, 41.2}}},
  };
  const size_t fade = static_cast<size_t>(std::lround(FollowFilter::kCrossfadeSeconds * kRate));
  for (const SwitchCase& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<float> x;
    std::vector<size_t> starts;
    double phase = 0, fastest = 0;
    for (const Segment& s : c.segments) {
      starts.push_back(x.size());
      fastest = std::max(fastest, s.hz);
      for (long i = 0; i < std::lround(s.seconds * kRate); ++i) {
        x.push_back(static_cast<float>(kAmplitude * std::sin(2 * M_PI * phase)));
        phase += s.hz / kRate;
        phase -= std::floor(phase);
      }
    }

    FollowFilter follow(kRate, 41.2);
    std::vector<float> y(x.size());
    size_t done = 0;
    for (size_t n = 0; n < c.segments.size(); ++n) {
      const size_t steer = n == 0 ? 0 : starts[n] - fade;
      follow.Process(x.data() + done, y.data() + done, steer - done);
      done = steer;
      follow.Steer(c.segments[n].steer_hz);
    }
    follow.Process(x.data() + done, y.data() + done, x.size() - done);
    EXPECT_NEAR(signals::Cents(follow.BandHz(), c.segments.back().steer_hz), 0, 50);

    // The output lags the input by each band's delay: a switch to a band of
    // less delay skips a little of the input, one of more repeats a little.
    // From the first band's settling to the end, the output's crossings are
    // the input's from the first lag to the last, no more than a period
    // above (the group delay that places them is not the phase delay); a
    // step up two octaves, 110 to 440 Hz, skips 379 samples of 110 Hz and
    // comes out 3 short.
    const Segment& first = c.segments.front();
    const Segment& last = c.segments.back();
    const size_t first_lag =
        static_cast<size_t>(BandDelaySeconds(first.steer_hz, first.hz) * kRate);
    const size_t last_lag = static_cast<size_t>(BandDelaySeconds(last.steer_hz, last.hz) * kRate);
    const size_t settled = first_lag + static_cast<size_t>(10 * kRate / first.hz);
    const size_t in = SignChanges(x, settled - first_lag, x.size() - last_lag).size();
    const std::vector<size_t> out = SignChanges(y, settled, y.size());
    EXPECT_LE(out.size(), in + 2) << "lags " << first_lag << " and " << last_lag << " samples";
    EXPECT_GE(out.size() + 3, in) << "lags " << first_lag << " and " << last_lag << " samples";
    // An added crossing comes as a pair far closer than any sine's.
    const double half_period = kRate / fastest / 2;
    for (size_t k = 1; k < out.size(); ++k)
      EXPECT_GT(out[k] - out[k - 1], 0.4 * half_period)
          << "crossings at " << out[k - 1] << " and " << out[k];
    // The steepest a sine of these can be, with room for the band's ripple.
    const double steepest = 1.3 * 2 * M_PI * fastest * kAmplitude / kRate;
    double jump = 0;
    size_t jump_at = 0;
    for (size_t i = 1; i < y.size(); ++i)
      if (std::fabs(y[i] - y[i - 1]) > jump) jump = std::fabs(y[i] - y[i - 1]), jump_at = i;
    EXPECT_LT(jump, steepest) << "at sample " << jump_at;
  }
}

}  // namespace
}  // namespace tonevolt
