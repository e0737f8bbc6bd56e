#include "conditioning/Prefilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "Signals.h"
#include "conditioning/Frequency.h"

namespace tonevolt {
namespace {

using signals::AmplitudeAt;
using signals::Db;
using signals::Sine;

// The choices the tool calls "note:F", "range:LO" and "off".
PrefilterChoice Note(double hz) { return {PrefilterChoice::Kind::kNote, hz}; }
PrefilterChoice Range(double hz) { return {PrefilterChoice::Kind::kRange, hz}; }
const PrefilterChoice kOff;
const double kE1 = MidiNoteHz(28), kC8 = MidiNoteHz(108);

// A choice as the tool names it, for a failure's message.
std::string Name(const PrefilterChoice& choice) {
  if (choice.kind == PrefilterChoice::Kind::kOff) return "off";
  char hz[32];
  std::snprintf(hz, sizeof hz, "%g", choice.hz);
  return (choice.kind == PrefilterChoice::Kind::kRange ? "range:" : "note:") + std::string(hz);
}

std::unique_ptr<Prefilter> Make(const PrefilterChoice& choice, double rate) {
  std::string error;
  auto filter = Prefilter::Create(choice, rate, &error);
  EXPECT_TRUE(filter) << error;
  return filter;
}

// Gain of the filter for a steady sine at hz: 2 s to settle, then 1 s fitted.
double MeasuredGainDb(Prefilter* filter, double hz, double rate) {
  size_t settle = static_cast<size_t>(2 * rate), measure = static_cast<size_t>(rate);
  std::vector<float> x = Sine(hz, rate, settle + measure, 0.5);
  std::vector<float> y(x.size());
  filter->Process(x.data(), y.data(), x.size());
  return Db(AmplitudeAt(y, hz, rate, settle, y.size()) / 0.5);
}

TEST(Prefilter, RefusesADesignThatDoesNotFitTheRate) {
  struct Case {
    PrefilterChoice choice;
    double rate;
  };
  const Case kCases[] = {
      {{PrefilterChoice::Kind::kNote, 20000}, 44100},   // edge 26 kHz above Nyquist
      {{PrefilterChoice::Kind::kNote, 17000}, 44100},   // edge 22.1 kHz, just above
      {{PrefilterChoice::Kind::kRange, 11025}, 22050},  // low-pass edge at Nyquist
      {{PrefilterChoice::Kind::kRange, 5000}, 8000},
      {{PrefilterChoice::Kind::kNote, 440}, 0},
      {{PrefilterChoice::Kind::kNote, 440}, std::numeric_limits<double>::quiet_NaN()},
  };
  for (const Case& c : kCases) {
    std::string error;
    EXPECT_EQ(Prefilter::Create(c.choice, c.rate, &error), nullptr)
        << c.choice.hz << " at " << c.rate;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  std::string error;
  EXPECT_NE(Prefilter::Create({PrefilterChoice::Kind::kNote, 16000}, 44100, &error), nullptr)
      << error;
}

TEST(Prefilter, OffIsTheIdentityBitForBit) {
  std::vector<float> x = signals::Noise(0.3, 1000);
  x[1] = std::numeric_limits<float>::quiet_NaN();
  x[2] = -0.0f;
  x[3] = std::numeric_limits<float>::denorm_min();
  x[4] = -std::numeric_limits<float>::infinity();
  auto filter = Make(kOff, 44100);
  std::vector<float> y(x.size());
  filter->Process(x.data(), y.data(), x.size());
  EXPECT_EQ(std::memcmp(x.data(), y.data(), x.size() * sizeof(float)), 0);
  filter->Process(y.data(), y.data(), y.size());
  EXPECT_EQ(std::memcmp(x.data(), y.data(), x.size() * sizeof(float)), 0);
  EXPECT_EQ(filter->GainDb(1000), 0.0);
}

// note:F: 8-pole elliptic, passband to 1.3 F within 0.5 dB, 80 dB down from
// where the stopband starts: 1.3103 times the edge for low notes at these
// rates (less for high notes, whose stopband the bilinear warp pulls in).
TEST(Prefilter, NoteDesignKeepsItsRippleAndStopband) {
  for (double rate : {44100.0, 48000.0, 96000.0}) {
    for (PrefilterChoice note : {Note(kE1), Note(110), Note(440), Note(2000), Note(kC8)}) {
      auto filter = Make(note, rate);
      double edge = 1.3 * filter->Choice().hz;
      for (int i = 0; i <= 2000; ++i) {
        double hz = edge * i / 2000;
        double gain = filter->GainDb(hz);
        ASSERT_LE(gain, 1e-4) << Name(note) << " at " << rate << ", " << hz << " Hz";
        ASSERT_GE(gain, -0.5 - 1e-4) << Name(note) << " at " << rate << ", " << hz << " Hz";
      }
      for (double hz = 1.3104 * edge; hz < rate / 2; hz += edge / 500) {
        ASSERT_LE(filter->GainDb(hz), -80 + 1e-3)
            << Name(note) << " at " << rate << ", " << hz << " Hz";
      }
      // The passband really ends at the edge: just beyond it the ripple is exceeded.
      EXPECT_LT(filter->GainDb(1.01 * edge), -0.6) << Name(note) << " at " << rate;
    }
  }
}

// range:LO: Butterworth responses, whose closed form after the bilinear
// transform is 1 / (1 + (tan(pi f / fs) / tan(pi fc / fs))^(2n)) for the
// low-pass, and the same with the ratio inverted for the high-pass.
TEST(Prefilter, RangeDesignIsButterworthHighAndLowPass) {
  for (double rate : {44100.0, 48000.0, 96000.0}) {
    for (double low : {41.2034, 110.0, 1000.0}) {
      auto filter = Make(Range(low), rate);
      auto ratio = [&](double hz, double cutoff) {
        return std::tan(M_PI * hz / rate) / std::tan(M_PI * cutoff / rate);
      };
      for (double hz = low / 20; hz < 0.49 * rate; hz *= 1.05) {
        double low_pass = 1 / (1 + std::pow(ratio(hz, low), 8));
        double high_pass = 1 / (1 + std::pow(ratio(hz, low / 2), -4));
        double expected = 10 * std::log10(low_pass * high_pass);
        ASSERT_NEAR(filter->GainDb(hz), expected, 1e-6 + 1e-6 * std::fabs(expected))
            << low << " at " << rate << ", " << hz << " Hz";
      }
    }
  }
}

// What the sections do to real sines matches the designed response.
TEST(Prefilter, ProcessedSinesFollowTheDesign) {
  struct Case {
    PrefilterChoice choice;
    double rate;
    double hz;
    double low_db;  // bounds the design promises
    double high_db;
  };
  const Case kCases[] = {
      {Note(440), 44100, 200, -0.5, 0},     {Note(440), 44100, 500, -0.5, 0},
      {Note(440), 44100, 570, -0.5, 0},     {Note(440), 44100, 760, -200, -80},
      {Note(440), 44100, 1000, -200, -80},  {Note(440), 44100, 5000, -200, -80},
      {Note(440), 48000, 200, -0.5, 0},     {Note(440), 48000, 500, -0.5, 0},
      {Note(440), 48000, 1000, -200, -80},  {Note(440), 96000, 500, -0.5, 0},
      {Note(440), 96000, 1000, -200, -80},  {Note(kE1), 96000, 50, -0.5, 0},
      {Note(kE1), 96000, 80, -200, -80},    {Range(110), 44100, 100, -3, 0},
      {Range(110), 44100, 110, -3.4, -3.1},  // -3.01 low-pass, -0.26 high-pass
      {Range(110), 44100, 1000, -200, -70}, {Range(110), 48000, 100, -3, 0},
      {Range(110), 48000, 1000, -200, -70}, {Range(110), 96000, 110, -3.4, -3.1},
      {Range(110), 96000, 1000, -200, -70}, {Range(110), 96000, 10, -40, -20},
  };
  for (const Case& c : kCases) {
    auto filter = Make(c.choice, c.rate);
    double designed = filter->GainDb(c.hz);
    double measured = MeasuredGainDb(filter.get(), c.hz, c.rate);
    SCOPED_TRACE(Name(c.choice) + " at " + std::to_string(c.rate) + ", " + std::to_string(c.hz) +
                 " Hz");
    EXPECT_NEAR(measured, designed, 0.01 + 0.002 * std::fabs(designed));
    EXPECT_GE(designed, c.low_db);
    EXPECT_LE(designed, c.high_db + 1e-4);
  }
}

// DelaySeconds is how late a narrow burst of tone comes out: the centre of
// its energy moves by the group delay.
TEST(Prefilter, DelayIsHowLateABurstComesOut) {
  struct Case {
    PrefilterChoice choice;
    double hz;
  };
  const Case kCases[] = {{Note(440), 300},  {Note(440), 500}, {Note(kE1), 41.2},
                         {Range(110), 150}, {Range(kE1), 60}, {kOff, 440}};
  const double rate = 44100, centre = 1.5, width = 0.15;
  for (const Case& c : kCases) {
    SCOPED_TRACE(Name(c.choice) + " at " + std::to_string(c.hz) + " Hz");
    auto filter = Make(c.choice, rate);
    std::vector<float> x = signals::Generate(static_cast<size_t>(3 * rate), [&](size_t i) {
      double t = i / rate, envelope = std::exp(-0.5 * std::pow((t - centre) / width, 2));
      return 0.5 * envelope * std::sin(2 * M_PI * c.hz * t);
    });
    std::vector<float> y(x.size());
    filter->Process(x.data(), y.data(), x.size());
    auto energy_centre = [&](const std::vector<float>& v) {
      double sum = 0, weighted = 0;
      for (size_t i = 0; i < v.size(); ++i) {
        sum += static_cast<double>(v[i]) * v[i];
        weighted += i / rate * v[i] * v[i];
      }
      return weighted / sum;
    };
    double delay = energy_centre(y) - energy_centre(x);
    EXPECT_NEAR(filter->DelaySeconds(c.hz), delay, 2e-4 + 0.05 * std::fabs(delay));
  }
}

TEST(Prefilter, RangeBlocksDirectCurrent) {
  for (double rate : {44100.0, 48000.0, 96000.0}) {
    auto filter = Make(Range(110), rate);
    std::vector<float> x(static_cast<size_t>(rate), 0.5f);
    filter->Process(x.data(), x.data(), x.size());
    EXPECT_LT(std::fabs(x.back()), 1e-6) << rate;
    EXPECT_LT(filter->GainDb(0.001), -150) << rate;
  }
}

// Blocks of any length, in place or not, give the same output as one pass;
// Reset starts over.
TEST(Prefilter, StreamsAcrossBlocks) {
  std::vector<float> x = signals::Noise(0.2, 20000, 7);
  auto whole = Make(Note(220), 48000);
  std::vector<float> expected(x.size());
  whole->Process(x.data(), expected.data(), x.size());

  for (size_t block : {1, 7, 512, 4096}) {
    auto filter = Make(Note(220), 48000);
    std::vector<float> y = x;
    signals::InBlocks(x, block, [&](const float* in, size_t count) {
      float* out = y.data() + (in - x.data());
      filter->Process(out, out, count);
    });
    EXPECT_EQ(std::memcmp(y.data(), expected.data(), y.size() * sizeof(float)), 0) << block;
    filter->Reset();
    filter->Process(x.data(), y.data(), x.size());
    EXPECT_EQ(std::memcmp(y.data(), expected.data(), y.size() * sizeof(float)), 0) << block;
  }
}

}  // namespace
}  // namespace tonevolt
