// The filter model that advice predicts with and the report decides with,
// against the module itself: a tone's ripple, the time to settle on a new
// note, and the lag behind a glide, measured on the module's output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "WBHost.h"
#include "module/FilterModel.h"
#include "module/Readings.h"
#include "module/Run.h"

namespace tonevolt {
namespace {

constexpr double kRate = kReferenceRate;

std::vector<float> Through(const std::vector<float>& input, const Settings& settings) {
  wbhost::ModuleLibrary library;
  std::string error;
  EXPECT_TRUE(library.Load(TONEVOLT_MODULE, &error)) << error;
  RunRequest request;
  request.settings = settings;
  std::vector<float> output;
  EXPECT_TRUE(RunModule(library.Main(), input, request, &output, &error)) << error;
  return output;
}

// A sine whose frequency follows hz_at(t), in phase throughout.
template <typename HzAt>
std::vector<float> Tone(double seconds, HzAt hz_at) {
  std::vector<float> x(static_cast<size_t>(seconds * kRate));
  double phase = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    x[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * phase));
    phase += hz_at(i / kRate) / kRate;
    phase -= std::floor(phase);
  }
  return x;
}

Settings With(int order, float cutoff, Scale scale = Scale::kVoltPerKhz) {
  Settings s;
  s.order = order;
  s.cutoff = cutoff;
  s.scale = scale;
  return s;
}

struct ModelCase {
  int order;
  float cutoff;
  double hz;
};

const ModelCase kCases[] = {{2, 10, 110}, {2, 20, 220}, {2, 40, 440},
                            {2, 30, 220}, {1, 10, 440}, {1, 40, 880}};

TEST(FilterModel, RippleIsTheModulesOnAHeldTone) {
  for (const ModelCase& c : kCases) {
    if (c.order != 2) continue;  // the model is of two poles, as advice suggests them
    SCOPED_TRACE(std::to_string(c.cutoff) + " Hz on " + std::to_string(c.hz) + " Hz");
    const Settings settings = With(c.order, c.cutoff);
    std::vector<float> out = Through(Tone(2.0, [&](double) { return c.hz; }), settings);
    auto [lo, hi] = std::minmax_element(out.begin() + out.size() / 2, out.end());
    const double measured = Cents(ImpliedHz(*hi, settings, kRate), ImpliedHz(*lo, settings, kRate));
    EXPECT_NEAR(RippleCents(c.cutoff, c.hz), measured, 0.1 * measured);
  }
}

TEST(FilterModel, SettlesOnANewNoteNoEarlierThanTheModule) {
  for (const ModelCase& c : kCases) {
    SCOPED_TRACE(std::to_string(c.order) + " poles at " + std::to_string(c.cutoff) + " Hz on " +
                 std::to_string(c.hz) + " Hz");
    const Settings settings = With(c.order, c.cutoff, Scale::kVoltPerOctave);
    // A fifth up, after the filter has long settled on the first note.
    const double step_s = 1.5, hz2 = c.hz * 1.5;
    std::vector<float> out =
        Through(Tone(step_s + 2.0, [&](double t) { return t < step_s ? c.hz : hz2; }), settings);
    // The settled reading's mean over whole ripple periods, then the last
    // sample whose reading, averaged over one period of the tone, lies more
    // than 10 cents from it.
    const size_t period = static_cast<size_t>(kRate / hz2 + 0.5);
    auto mean_cents = [&](size_t from, size_t count) {
      double sum = 0;
      for (size_t i = from; i < from + count; ++i) sum += out[i];
      return Cents(ImpliedHz(sum / count, settings, kRate), hz2);
    };
    const size_t step = static_cast<size_t>(step_s * kRate);
    const double settled = mean_cents(out.size() - 40 * period, 40 * period);
    size_t last_off = step;
    for (size_t i = step; i + period < out.size(); i += period / 4 + 1)
      if (std::fabs(mean_cents(i, period) - settled) > 10) last_off = i + period;
    const double measured = (last_off - step) / kRate;
    // Never settled before the module is (a reading marked settled that is
    // not), nor much later.
    EXPECT_GE(SettleSeconds(settings), measured);
    EXPECT_LE(SettleSeconds(settings), 1.3 * measured);
  }
}

TEST(FilterModel, LagsAGlideByItsDelay) {
  for (const ModelCase& c : kCases) {
    SCOPED_TRACE(std::to_string(c.order) + " poles at " + std::to_string(c.cutoff) + " Hz");
    const Settings settings = With(c.order, c.cutoff);
    // 1 V/kHz is linear in Hz: behind a glide of g Hz a second the output
    // reads g * delay low, once the filter has caught up with the glide. A
    // steep glide, so that the ripple's part-cycle at the ends of the mean
    // weighs little against the lag.
    const double glide = 400, from_hz = c.hz, seconds = 2;
    std::vector<float> out =
        Through(Tone(seconds, [&](double t) { return from_hz + glide * t; }), settings);
    const size_t from = out.size() * 3 / 4;
    const size_t period = static_cast<size_t>(kRate / c.hz);
    const size_t count = (out.size() - from) / period * period;
    double sum = 0;
    for (size_t i = from; i < from + count; ++i) sum += out[i];
    const double mean_t = (from + (count - 1) / 2.0) / kRate;
    const double lag = (from_hz + glide * mean_t - ImpliedHz(sum / count, settings, kRate)) / glide;
    EXPECT_NEAR(DelaySeconds(settings), lag, 0.1 * DelaySeconds(settings));
  }
}

}  // namespace
}  // namespace tonevolt
