#include "analysis/Resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "Signals.h"

namespace tonevolt {
namespace {

using signals::InBlocks;

std::vector<float> Resample(const std::vector<float>& x, int in_rate, int out_rate, size_t block) {
  std::string error;
  auto resampler = Resampler::Create(in_rate, out_rate, &error);
  EXPECT_TRUE(resampler) << error;
  std::vector<float> y;
  if (!resampler) return y;
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
const RatePair kRatePairs[] = {{44100, 48000}, {48000, 44100}, {44100, 96000},
                               {96000, 44100}, {22050, 44100}, {8000, 44100}};
const size_t kBlocks[] = {1, 100, 4096, 65537};

// Length, alignment, frequency and level, for each rate pair and block length.
TEST(Resampler, KeepsLengthTimingPitchAndLevel) {
  for (const RatePair& rates : kRatePairs) {
    double ratio = static_cast<double>(rates.out_rate) / rates.in_rate;
    size_t in_count = static_cast<size_t>(1.5 * rates.in_rate) + 7;
    size_t expected_count = static_cast<size_t>(std::llround(in_count * ratio));
    std::vector<float> sine = signals::Sine(1000, rates.in_rate, in_count);
    std::vector<float> click(in_count, 0.0f);
    size_t click_at = in_count / 3 + 1;
    click[click_at] = 1.0f;

    for (size_t block : kBlocks) {
      SCOPED_TRACE(std::to_string(rates.in_rate) + " to " + std::to_string(rates.out_rate) +
                   " Hz in blocks of " + std::to_string(block));
      std::vector<float> y = Resample(sine, rates.in_rate, rates.out_rate, block);
      ASSERT_EQ(y.size(), expected_count);
      EXPECT_EQ(Resampler::OutputLength(in_count, rates.in_rate, rates.out_rate), expected_count);

      // One second in the middle: 1000 Hz, the same level, and no time
      // offset: the output is the same sine sampled at the new rate.
      size_t begin = static_cast<size_t>(0.25 * rates.out_rate);
      size_t end = begin + static_cast<size_t>(rates.out_rate);
      EXPECT_NEAR(SignChanges(y, begin, end), 2000, 1);
      double level = signals::AmplitudeAt(y, 1000, rates.out_rate, begin, end);
      EXPECT_NEAR(signals::Db(level / 0.5), 0, 0.1);
      double worst = 0;
      for (size_t i = begin; i < end; ++i) {
        worst =
            std::max(worst, std::fabs(y[i] - 0.5 * std::sin(2 * M_PI * 1000 * i / rates.out_rate)));
      }
      EXPECT_LT(worst, 1e-5);  // soxr HQ: 20-bit precision

      std::vector<float> z = Resample(click, rates.in_rate, rates.out_rate, block);
      ASSERT_EQ(z.size(), expected_count);
      size_t peak = 0;
      for (size_t i = 0; i < z.size(); ++i) {
        if (std::fabs(z[i]) > std::fabs(z[peak])) peak = i;
      }
      EXPECT_NEAR(static_cast<double>(peak), std::round(click_at * ratio), 1.0);
    }
  }
}

TEST(Resampler, RoundTripLinesUpSampleForSample) {
  const int rate = 48000;
  std::vector<float> x = signals::Generate(2 * rate + 11, [](size_t i) {
    double t = static_cast<double>(i) / rate;
    return 0.4 * std::sin(2 * M_PI * 440 * t) + 0.2 * std::sin(2 * M_PI * 3000 * t + 1);
  });
  std::vector<float> there = Resample(x, rate, 44100, 1000);
  std::vector<float> back = Resample(there, 44100, rate, 999);
  ASSERT_EQ(back.size(), x.size());
  double worst = 0;
  for (size_t i = rate / 4; i < x.size() - rate / 4; ++i) {
    worst = std::max(worst, static_cast<double>(std::fabs(back[i] - x[i])));
  }
  EXPECT_LT(worst, 1e-5);
}

// Every total input length gives round(length * out / in) samples, however
// the input was split, none of them at all included.
TEST(Resampler, OutputLengthIsExactForAnyInputLength) {
  for (const RatePair& rates : kRatePairs) {
    for (size_t in_count : {0, 1, 2, 3, 5, 160, 441, 1001, 44099}) {
      std::vector<float> x = signals::Noise(0.1, in_count);
      uint64_t expected = static_cast<uint64_t>(
          std::floor(static_cast<double>(in_count) * rates.out_rate / rates.in_rate + 0.5));
      EXPECT_EQ(Resampler::OutputLength(in_count, rates.in_rate, rates.out_rate), expected);
      EXPECT_EQ(Resample(x, rates.in_rate, rates.out_rate, 64).size(), expected)
          << in_count << " samples, " << rates.in_rate << " to " << rates.out_rate;
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
  for (size_t block : {1, 333, 5000}) {
    std::vector<float> y = Resample(x, 44100, 44100, block);
    ASSERT_EQ(y.size(), x.size());
    EXPECT_EQ(std::memcmp(x.data(), y.data(), x.size() * sizeof(float)), 0) << block;
  }
}

TEST(Resampler, RefusesRatesItCannotUse) {
  for (RatePair rates : {RatePair{0, 44100}, RatePair{44100, 0}, RatePair{-48000, 44100},
                         RatePair{44100, 2000000000}}) {
    std::string error;
    EXPECT_EQ(Resampler::Create(rates.in_rate, rates.out_rate, &error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace tonevolt
