#include "analysis/Resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "Signals.h"

namespace tonevolt {
namespace {

using signals::InBlocks;
using Signal = Resampler::Signal;

// -120 dBFS: the render passes resampled audio below this on as silence.
constexpr float kSilence = 1e-6f;

std::vector<float> Resample(const std::vector<float>& x, int in_rate, int out_rate, size_t block,
                            Signal signal = Signal::kAudio, size_t* delay = nullptr) {
  std::string error;
  auto resampler = Resampler::Create(in_rate, out_rate, signal, &error);
  EXPECT_TRUE(resampler) << error;
  std::vector<float> y;
  if (!resampler) return y;
  if (delay != nullptr) *delay = resampler->Delay();
  InBlocks(x, block, [&](const float* in, size_t count) { resampler->Process(in, count, &y); });
  resampler->Flush(&y);
  return y;
}

// Sign changes of x over [begin, end).
int SignChanges(const std::vector<float>& x, size_t begin, size_t end) {
  int changes = 0;
  for (size_t i = begin + 1; i < end; ++i) changes += (x[i - 1] < 0) != (x[i] < 0);
  return changes;
}

struct RatePair {
  int in_rate;
  int out_rate;
};
// Files to the module's 44100 Hz, and its control voltage back.
const RatePair kRatePairs[] = {{44100, 48000}, {48000, 44100}, {44100, 96000}, {96000, 44100},
                               {22050, 44100}, {8000, 44100},  {44100, 8000}};
const size_t kBlocks[] = {1, 100, 4096, 65537};

std::string Describe(const RatePair& rates, size_t block) {
  return std::to_string(rates.in_rate) + " to " + std::to_string(rates.out_rate) +
         " Hz in blocks of " + std::to_string(block);
}

// Audio: length, frequency and level kept, for each rate pair and block
// length; the output is the same sine sampled at the new rate, a little late
// (the filter is causal), and clean.
TEST(Resampler, AudioKeepsLengthPitchAndLevel) {
  for (const RatePair& rates : kRatePairs) {
    double ratio = static_cast<double>(rates.out_rate) / rates.in_rate;
    size_t in_count = static_cast<size_t>(1.5 * rates.in_rate) + 7;
    size_t expected_count = static_cast<size_t>(std::llround(in_count * ratio));
    std::vector<float> sine = signals::Sine(1000, rates.in_rate, in_count);

    for (size_t block : kBlocks) {
      SCOPED_TRACE(Describe(rates, block));
      std::vector<float> y = Resample(sine, rates.in_rate, rates.out_rate, block);
      ASSERT_EQ(y.size(), expected_count);
      EXPECT_EQ(Resampler::OutputLength(in_count, rates.in_rate, rates.out_rate), expected_count);

      // One second in the middle: 1000 Hz at the same level.
      size_t begin = static_cast<size_t>(0.25 * rates.out_rate);
      size_t end = begin + static_cast<size_t>(rates.out_rate);
      EXPECT_NEAR(SignChanges(y, begin, end), 2000, 1);
      double level = signals::AmplitudeAt(y, 1000, rates.out_rate, begin, end);
      EXPECT_NEAR(signals::Db(level / 0.5), 0, 0.1);
      // A clean copy of the sine at some lag (the phase of the best fit; the
      // onset test pins the timing), sample by sample.
      double s = 0, c = 0;
      for (size_t i = begin; i < end; ++i) {
        s += y[i] * std::sin(2 * M_PI * 1000 * i / rates.out_rate);
        c += y[i] * std::cos(2 * M_PI * 1000 * i / rates.out_rate);
      }
      double lag_s = std::atan2(-c, s) / (2 * M_PI * 1000);
      double worst = 0;
      for (size_t i = begin; i < end; ++i) {
        double t = static_cast<double>(i) / rates.out_rate - lag_s;
        worst = std::max(worst, std::fabs(y[i] - 0.5 * std::sin(2 * M_PI * 1000 * t)));
      }
      EXPECT_LT(worst, 1e-4);
    }
  }
}

// Nothing ahead of a sound that rises out of digital silence: every output
// sample before the onset's place is below -120 dBFS, for a full-scale step,
// a full-scale tone at the input's Nyquist frequency (where a low-pass rings
// most), and sines starting at any fraction of an output sample; and the
// response is under way within a millisecond. A linear-phase filter leaves
// some 1e-2 there, for milliseconds.
TEST(Resampler, AudioHasNothingAheadOfAnOnset) {
  for (const RatePair& rates : kRatePairs) {
    const double ratio = static_cast<double>(rates.out_rate) / rates.in_rate;
    const size_t in_count = static_cast<size_t>(0.1 * rates.in_rate);
    const struct {
      const char* name;
      double (*at)(size_t i, double rate);  // from the onset on
    } kOnsets[] = {
        {"step", [](size_t, double) { return 1.0; }},
        {"nyquist", [](size_t i, double) { return i % 2 == 0 ? 1.0 : -1.0; }},
        {"sine", [](size_t i, double rate) { return std::sin(2 * M_PI * 440 * i / rate); }},
        {"cosine", [](size_t i, double rate) { return std::cos(2 * M_PI * 3000 * i / rate); }},
    };
    size_t delay = 0;
    for (const auto& onset : kOnsets) {
      for (size_t on = in_count / 2; on < in_count / 2 + 13; on += 3) {
        SCOPED_TRACE(std::string(onset.name) + " at " + std::to_string(on) + ", " +
                     Describe(rates, 256));
        std::vector<float> x(in_count, 0.0f);
        for (size_t i = on; i < in_count; ++i)
          x[i] = static_cast<float>(onset.at(i - on, rates.in_rate));
        std::vector<float> y =
            Resample(x, rates.in_rate, rates.out_rate, 256, Signal::kAudio, &delay);
        const double place = on * ratio;
        size_t first = 0;
        while (first < y.size() && std::fabs(y[first]) < kSilence) ++first;
        EXPECT_GE(static_cast<double>(first), place);
        EXPECT_LT(static_cast<double>(first), place + 1e-3 * rates.out_rate);
      }
    }
    // The delay that keeps the filter's rise behind the input: under a
    // millisecond at these rates.
    EXPECT_LT(delay, 1e-3 * rates.out_rate) << Describe(rates, 256);
  }
}

// A control voltage at the module's rate back to a file's. Each output
// sample lies within the values of the input samples whose time it spans
// (the last one held to the end): no overshoot, and nothing from a later
// input sample. Steps of every size and spikes of one sample, the worst
// for an interpolating filter.
TEST(Resampler, ControlVoltageStaysWithinTheValuesItSpans) {
  std::mt19937 engine(7);
  std::uniform_real_distribution<double> level(-1.0, 8.0);
  std::uniform_int_distribution<int> hold(1, 40);
  std::vector<float> cv;
  while (cv.size() < 30000) cv.insert(cv.end(), hold(engine), static_cast<float>(level(engine)));
  cv.resize(30000);

  for (const RatePair& rates : kRatePairs) {
    for (size_t block : kBlocks) {
      SCOPED_TRACE(Describe(rates, block));
      std::vector<float> y =
          Resample(cv, rates.in_rate, rates.out_rate, block, Signal::kControlVoltage);
      ASSERT_EQ(y.size(), Resampler::OutputLength(cv.size(), rates.in_rate, rates.out_rate));
      const uint64_t in = rates.in_rate, out = rates.out_rate;
      for (uint64_t j = 0; j < y.size(); ++j) {
        // Input samples k with [k, k + 1) / in meeting [j, j + 1) / out.
        uint64_t first = j * in / out;
        uint64_t last = std::min<uint64_t>(((j + 1) * in + out - 1) / out - 1, cv.size() - 1);
        auto [low, high] = std::minmax_element(cv.begin() + static_cast<std::ptrdiff_t>(first),
                                               cv.begin() + static_cast<std::ptrdiff_t>(last) + 1);
        ASSERT_GE(y[j], *low) << "sample " << j;
        ASSERT_LE(y[j], *high) << "sample " << j;
      }
    }
  }
}

// A change at input sample k shows first in the output sample whose span
// holds k / in_rate, never earlier; a steady value comes out bit for bit.
TEST(Resampler, ControlVoltageChangesNoEarlierThanTheirSample) {
  for (const RatePair& rates : kRatePairs) {
    for (size_t change : {1000u, 1001u, 1002u, 1003u, 4410u}) {
      SCOPED_TRACE("change at " + std::to_string(change) + ", " + Describe(rates, 100));
      std::vector<float> cv(6000, 0.4400f);
      std::fill(cv.begin() + static_cast<std::ptrdiff_t>(change), cv.end(), 0.8800f);
      std::vector<float> y =
          Resample(cv, rates.in_rate, rates.out_rate, 100, Signal::kControlVoltage);
      const uint64_t shows = change * static_cast<uint64_t>(rates.out_rate) / rates.in_rate;
      for (uint64_t j = 0; j < shows; ++j) ASSERT_EQ(y[j], 0.4400f) << "sample " << j;
      EXPECT_GT(y[shows], 0.4400f);
      for (uint64_t j = shows + 1; j < y.size(); ++j) ASSERT_EQ(y[j], 0.8800f) << "sample " << j;
    }
  }
}

// A slow control voltage (5 Hz) from the module's rate comes out lined up:
// each output sample is the input at the middle of its span, within a
// thousandth.
TEST(Resampler, ControlVoltageLinesUp) {
  for (const RatePair& rates : kRatePairs) {
    if (rates.in_rate != 44100) continue;
    std::vector<float> cv = signals::Generate(
        rates.in_rate, [&](size_t i) { return 2 + std::sin(2 * M_PI * 5 * i / rates.in_rate); });
    std::vector<float> y =
        Resample(cv, rates.in_rate, rates.out_rate, 4096, Signal::kControlVoltage);
    double worst = 0;
    for (size_t j = 0; j + 1 < y.size(); ++j) {
      // The input held: sample k covers [k, k + 1) / in_rate, its value at
      // the middle of that.
      double t = (j + 0.5) / rates.out_rate - 0.5 / rates.in_rate;
      worst = std::max(worst, std::fabs(y[j] - (2 + std::sin(2 * M_PI * 5 * t))));
    }
    EXPECT_LT(worst, 1e-3) << Describe(rates, 4096);
  }
}

// Every total input length gives round(length * out / in) samples, however
// the input was split, none of them at all included.
TEST(Resampler, OutputLengthIsExactForAnyInputLength) {
  for (Signal signal : {Signal::kAudio, Signal::kControlVoltage}) {
    for (const RatePair& rates : kRatePairs) {
      for (size_t in_count : {0, 1, 2, 3, 5, 160, 441, 1001, 44099}) {
        std::vector<float> x = signals::Noise(0.1, in_count);
        uint64_t expected = static_cast<uint64_t>(
            std::floor(static_cast<double>(in_count) * rates.out_rate / rates.in_rate + 0.5));
        EXPECT_EQ(Resampler::OutputLength(in_count, rates.in_rate, rates.out_rate), expected);
        EXPECT_EQ(Resample(x, rates.in_rate, rates.out_rate, 64, signal).size(), expected)
            << in_count << " samples, " << rates.in_rate << " to " << rates.out_rate;
      }
    }
  }
  // Exact halves round up, and 64 bits hold hours of input.
  EXPECT_EQ(Resampler::OutputLength(1, 2, 1), 1u);
  EXPECT_EQ(Resampler::OutputLength(3, 48000, 8000), 1u);
  EXPECT_EQ(Resampler::OutputLength(96000ull * 3600 * 5, 96000, 44100), 44100ull * 3600 * 5);
}

TEST(Resampler, EqualRatesCopyBitForBit) {
  std::vector<float> x = signals::Noise(0.3, 5000);
  x[10] = std::numeric_limits<float>::quiet_NaN();
  x[11] = -0.0f;
  x[12] = std::numeric_limits<float>::denorm_min();
  for (Signal signal : {Signal::kAudio, Signal::kControlVoltage}) {
    for (size_t block : {1, 333, 5000}) {
      size_t delay = 1;
      std::vector<float> y = Resample(x, 44100, 44100, block, signal, &delay);
      EXPECT_EQ(delay, 0u);
      ASSERT_EQ(y.size(), x.size());
      EXPECT_EQ(std::memcmp(x.data(), y.data(), x.size() * sizeof(float)), 0) << block;
    }
  }
}

TEST(Resampler, RefusesRatesItCannotUse) {
  for (RatePair rates : {RatePair{0, 44100}, RatePair{44100, 0}, RatePair{-48000, 44100},
                         RatePair{44100, 2000000000}}) {
    for (Signal signal : {Signal::kAudio, Signal::kControlVoltage}) {
      std::string error;
      EXPECT_EQ(Resampler::Create(rates.in_rate, rates.out_rate, signal, &error), nullptr);
      EXPECT_FALSE(error.empty());
      EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
  }
}

}  // namespace
}  // namespace tonevolt
