// The signal path seen from the host: zero-crossing pulses, filter
// coefficients, one or two stages, gain and octave factor, down to the bits
// of every output sample in 1 V/kHz mode.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "ModuleFixture.h"
#include "TonevoltRig.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::vector<uint32_t> AllBits(const std::vector<float>& samples) {
  std::vector<uint32_t> bits;
  for (float x : samples) bits.push_back(Bits(x));
  return bits;
}

// The filter written out plainly, with the rounding points of the module:
// double between them, float at each named result. Fed with the pulses a
// case expects rather than detecting them itself.
struct Reference {
  float twice_rate = 88200.0f;
  float a0 = 0, a1 = 0, b1 = 0;
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;

  explicit Reference(float cutoff = 40.0f, float rate = 44100.0f) : twice_rate(rate * 2.0f) {
    Coefficients(cutoff);
  }
  void Coefficients(float cutoff) {
    float w = 6.2831855f * cutoff;
    float k = static_cast<float>(1.0 / (static_cast<double>(w) + twice_rate));
    a0 = a1 = static_cast<float>(static_cast<double>(w) * k);
    b1 = static_cast<float>((static_cast<double>(twice_rate) - w) * k);
  }
  static float Stage(float a0, float a1, float b1, float x, float& x1, float& y1) {
    float y = static_cast<float>((static_cast<double>(a0) * x + static_cast<double>(a1) * x1) +
                                 static_cast<double>(b1) * y1);
    x1 = x;
    y1 = y;
    return y;
  }
  float Step(bool pulse, bool two_poles = false, float factor = 1.0f) {
    float v = Stage(a0, a1, b1, pulse ? 1.0022f : 0.0f, x1, y1);
    if (two_poles) v = Stage(a0, a1, b1, v, x2, y2);
    v = v * 2.2f;
    return v * factor;
  }
};

// Expected outputs for a pulse pattern: pulses[i] marks a pulse at sample i.
std::vector<uint32_t> Expected(const std::vector<bool>& pulses, Reference ref = Reference()) {
  std::vector<uint32_t> bits;
  for (bool pulse : pulses) bits.push_back(Bits(ref.Step(pulse)));
  return bits;
}

std::vector<bool> PulsesAt(size_t length, std::vector<size_t> at) {
  std::vector<bool> pulses(length, false);
  for (size_t i : at) pulses[i] = true;
  return pulses;
}

// ------------------------------------------------------------ detector

struct DetectorCase {
  const char* what;
  std::vector<float> input;
  std::vector<size_t> pulses;
};

TEST_F(TonevoltTest, ZeroCrossingDetectorPulsesWhereExpected) {
  const float tiny = 1e-23f;  // tiny * tiny rounds to 0 in float
  const float denormal = FromBits(0x00000001u);
  const DetectorCase cases[] = {
      {"first sample never pulses", {1.0f}, {}},
      {"first sample negative", {-1.0f, -2.0f}, {}},
      {"first sample zero", {0.0f, 0.0f}, {}},
      {"first sample NaN", {kNaN, 1.0f}, {}},
      {"+1, 0, -1: at the zero", {1.0f, 0.0f, -1.0f}, {1}},
      {"+1, 0, +1: at the zero", {1.0f, 0.0f, 1.0f}, {1}},
      {"run of zeros: at its first zero", {1.0f, 0.0f, 0.0f, 0.0f, 0.0f}, {1}},
      {"-0.0 is zero", {1.0f, -0.0f, -1.0f}, {1}},
      {"-0.0 then 0.0: one pulse", {-1.0f, -0.0f, 0.0f, -0.0f}, {1}},
      {"sign changes", {1.0f, -1.0f, 1.0f, -1.0f, -3.0f, 2.0f}, {1, 2, 3, 5}},
      {"same sign, no pulses", {0.5f, 2.0f, 1e30f, 1e-30f}, {}},
      {"product rounds to zero", {tiny, -tiny, tiny}, {}},
      {"denormals of opposite sign", {denormal, -denormal}, {}},
      {"product rounds to the least denormal", {1e-22f, -1e-23f}, {1}},
      {"NaN after non-zero pulses", {1.0f, kNaN, 1.0f}, {1}},
      {"NaN after negative, NaN again", {-1.0f, kNaN, kNaN, -1.0f}, {1}},
      {"NaN never passes the product test", {0.0f, kNaN, -1.0f, kNaN, kNaN}, {3}},
      {"infinities", {kInf, -kInf, 0.0f, 1.0f}, {1, 2}},
  };
  for (const DetectorCase& c : cases) {
    SCOPED_TRACE(c.what);
    TonevoltRig rig(m_main);
    EXPECT_EQ(AllBits(rig.Run(c.input)), Expected(PulsesAt(c.input.size(), c.pulses)));
  }
}

// -------------------------------------------------------- coefficients

// The first outputs after one pulse from rest: y = a0 * 1.0022, then
// a1 * 1.0022 + b1 * y, each times 2.2. Literal bits computed offline with
// exact rational arithmetic (Python fractions) rounding at the same points:
// 40 Hz at 44100 Hz gives a0 = a1 = 0x3b3a3721, b1 = 0x3f7e8b92; at 48000 Hz
// a0 = a1 = 0x3b2b1ff6, b1 = 0x3f7ea9c0.
TEST_F(TonevoltTest, FortyHertzCoefficientsShowInTheFirstOutputs) {
  struct Case {
    float rate;
    int32_t order;
    uint32_t expected[4];
  };
  const Case cases[] = {
      {44100.0f, 0, {0x00000000u, 0x3bcd499bu, 0x3c4cb448u, 0x3c4b8a7au}},
      {48000.0f, 0, {0x00000000u, 0x3bbca6c6u, 0x3c3c28acu, 0x3c3b2d1eu}},
      {44100.0f, 1, {0x00000000u, 0x379553b0u, 0x3894e711u, 0x3914449au}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, order " << c.order);
    TonevoltRig rig(m_main, c.rate);
    rig.Set(0, kOrder, c.order);
    std::vector<uint32_t> expected(c.expected, c.expected + 4);
    EXPECT_EQ(AllBits(rig.Run({1.0f, 0.0f, 0.0f, 0.0f})), expected);
  }
  // The plain reference agrees with the literal values.
  EXPECT_EQ(Bits(Reference().a0), 0x3b3a3721u);
  EXPECT_EQ(Bits(Reference().b1), 0x3f7e8b92u);
  EXPECT_EQ(Bits(Reference(40.0f, 48000.0f).a0), 0x3b2b1ff6u);
  EXPECT_EQ(Bits(Reference(40.0f, 48000.0f).b1), 0x3f7ea9c0u);
}

// 2 crossings per period of height 1.0022, gain 2.2: the settled mean is
// 1.0022 * 2.2 * 2 * 1000 / rate, 0.0999927 at 44100 Hz (1 V per kHz), and
// 44100 / 48000 of that at 48000 Hz, where the gain does not follow the rate.
TEST_F(TonevoltTest, ThousandHertzSineSettlesAtOneVolt) {
  struct Case {
    float rate;
    double mean;
  };
  const Case cases[] = {{44100.0f, 0.0999927}, {48000.0f, 0.0999927 * 44100.0 / 48000.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    TonevoltRig rig(m_main, c.rate);
    const int rate = static_cast<int>(c.rate);
    std::vector<float> sine(2 * rate);
    for (size_t n = 0; n < sine.size(); ++n)
      sine[n] = static_cast<float>(std::sin(2.0 * 3.14159265358979323846 * 1000.0 * n / rate));
    std::vector<float> out = rig.Run(sine);
    // The second second: a whole number of periods, long after settling.
    double sum = 0.0;
    for (size_t n = rate; n < out.size(); ++n) sum += out[n];
    EXPECT_NEAR(sum / rate, c.mean, 2e-6);
  }
}

// --------------------------------------------------- list pins' values

TEST_F(TonevoltTest, OctaveIndexScalesByPowersOfTwo) {
  struct Case {
    int32_t value;  // as sent by the host; the pin keeps its low 16 bits
    float factor;
  };
  // -1 arrives as 65535: the pin writes 16 bits and the upper half stays 0,
  // so a negative index cannot reach the module through a pin.
  const Case cases[] = {{0, 0.125f},   {1, 0.25f}, {2, 0.5f},      {3, 1.0f},
                        {4, 2.0f},     {5, 4.0f},  {6, 8.0f},      {7, 1.0f},
                        {65535, 1.0f}, {-1, 1.0f}, {0x10006, 8.0f}};
  const float base[] = {0.0f, FromBits(0x3bcd499bu), FromBits(0x3c4cb448u), FromBits(0x3c4b8a7au)};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TonevoltRig rig(m_main);
    rig.Set(0, kOctave, c.value);
    std::vector<uint32_t> expected;
    for (float b : base) expected.push_back(Bits(b * c.factor));  // exact: powers of two
    EXPECT_EQ(AllBits(rig.Run({1.0f, 0.0f, 0.0f, 0.0f})), expected);
  }
}

// Only 1 selects two poles and only 1 selects 1 V/oct; anything else is the
// default path, bit for bit.
TEST_F(TonevoltTest, UnlistedOrderAndScaleValuesTakeTheDefaultPath) {
  const std::vector<float> input = {0.5f, -0.25f, 0.0f, 0.0f, 0.75f, -1.0f, 2.0f, -0.0f, 1.0f};
  TonevoltRig plain(m_main);
  const std::vector<uint32_t> expected = AllBits(plain.Run(input));
  struct Case {
    int32_t pin, value;
  };
  const Case cases[] = {{kOrder, 2}, {kOrder, 65535}, {kFreqScale, 2}, {kFreqScale, 65535}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "pin " << c.pin << " = " << c.value);
    TonevoltRig rig(m_main);
    rig.Set(0, c.pin, c.value);
    EXPECT_EQ(AllBits(rig.Run(input)), expected);
  }
}

// While one pole runs the second stage keeps its state; two poles again
// resume from it.
TEST_F(TonevoltTest, SecondStageResumesAfterOnePoleStretch) {
  std::vector<float> input;
  for (int i = 0; i < 40; ++i) input.push_back((i / 3) % 2 == 0 ? 1.0f : -1.0f);
  TonevoltRig rig(m_main);
  rig.Set(0, kOrder, 1);
  rig.Set(11, kOrder, 0);
  rig.Set(23, kOrder, 1);
  std::vector<float> out = rig.Run(input);

  Reference ref;
  float prev = 0.0f;
  for (size_t i = 0; i < input.size(); ++i) {
    bool pulse = prev * input[i] < 0.0f;
    prev = input[i];
    bool two_poles = i < 11 || i >= 23;
    EXPECT_EQ(Bits(out[i]), Bits(ref.Step(pulse, two_poles))) << "sample " << i;
  }
}

// -------------------------------------------------------------- cutoff

std::vector<float> PulseTrain(size_t length) {
  std::vector<float> input;
  for (size_t i = 0; i < length; ++i) input.push_back(i % 4 < 2 ? 1.0f : -1.0f);
  return input;
}

std::vector<bool> PulsesOf(const std::vector<float>& input) {
  std::vector<bool> pulses;
  float prev = 0.0f;
  for (float x : input) {
    pulses.push_back(prev * x < 0.0f);
    prev = x;
  }
  return pulses;
}

TEST_F(TonevoltTest, CutoffChangesTakeEffectAtTheNextPiece) {
  const std::vector<float> input = PulseTrain(24);
  const std::vector<bool> pulses = PulsesOf(input);
  struct Change {
    uint32_t at;
    float hz;
  };
  struct Case {
    const char* what;
    std::vector<Change> changes;
    // Expected cutoff from each sample on: (sample, hz) pairs, first at 0.
    std::vector<Change> in_force;
  };
  const Case cases[] = {
      {"default 40 Hz", {}, {{0, 40.0f}}},
      {"0.0 before the first call keeps the 40 Hz of the open", {{0, 0.0f}}, {{0, 40.0f}}},
      {"NaN before the first call is ignored", {{0, kNaN}}, {{0, 40.0f}}},
      {"set before the first sample", {{0, 1000.0f}}, {{0, 1000.0f}}},
      {"mid-block", {{7, 1000.0f}}, {{0, 40.0f}, {7, 1000.0f}}},
      {"mid-block, then NaN ignored", {{3, 500.0f}, {9, kNaN}}, {{0, 40.0f}, {3, 500.0f}}},
      {"NaN, then back to a number",
       {{0, 250.0f}, {5, kNaN}, {10, 250.0f}, {15, 60.0f}},
       {{0, 250.0f}, {15, 60.0f}}},
      {"0.0 once applied holds the output", {{0, 700.0f}, {6, 0.0f}}, {{0, 700.0f}, {6, 0.0f}}},
      {"out of the announced range", {{2, 20000.0f}}, {{0, 40.0f}, {2, 20000.0f}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TonevoltRig rig(m_main);
    for (const Change& change : c.changes) rig.SetCutoff(change.at, change.hz);
    std::vector<float> out = rig.Run(input);
    Reference ref;
    size_t next = 0;
    for (size_t i = 0; i < input.size(); ++i) {
      if (next < c.in_force.size() && c.in_force[next].at == i)
        ref.Coefficients(c.in_force[next++].hz);
      EXPECT_EQ(Bits(out[i]), Bits(ref.Step(pulses[i]))) << "sample " << i;
    }
  }
  // A cutoff of 0.0 makes a0 = a1 = 0 and b1 = 1 exactly.
  Reference held(0.0f);
  EXPECT_EQ(Bits(held.a0), 0u);
  EXPECT_EQ(Bits(held.b1), 0x3f800000u);
}

// A host cannot call the routine for 0 samples (a block has at least one);
// the nearest it gets is a change stamped at a block's end, which must be in
// force from the next block's first sample.
TEST_F(TonevoltTest, CutoffChangeAtBlockEndAppliesBeforeNextBlock) {
  const std::vector<float> input = PulseTrain(16);
  const std::vector<bool> pulses = PulsesOf(input);
  TonevoltRig rig(m_main);
  rig.SetCutoff(8, 1500.0f);
  std::vector<float> first = rig.Run(std::vector<float>(input.begin(), input.begin() + 8));
  EXPECT_FALSE(rig.Instance().QueueEmpty());
  std::vector<float> second = rig.Run(std::vector<float>(input.begin() + 8, input.end()));
  EXPECT_TRUE(rig.Instance().QueueEmpty());

  Reference ref;
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(Bits(first[i]), Bits(ref.Step(pulses[i]))) << i;
  ref.Coefficients(1500.0f);
  for (size_t i = 8; i < 16; ++i) EXPECT_EQ(Bits(second[i - 8]), Bits(ref.Step(pulses[i]))) << i;
}

// A second open recomputes the 40 Hz coefficients but leaves the applied
// cutoff alone: they stay until the cutoff really changes. The filter state
// carries over the open.
TEST_F(TonevoltTest, ReopenRestoresFortyHertzUntilTheCutoffChanges) {
  const std::vector<float> input = PulseTrain(12);
  const std::vector<bool> pulses = PulsesOf(input);
  TonevoltRig rig(m_main);
  rig.SetCutoff(0, 300.0f);
  Reference ref(300.0f);
  std::vector<float> out = rig.Run(input);
  for (size_t i = 0; i < 12; ++i) ASSERT_EQ(Bits(out[i]), Bits(ref.Step(pulses[i]))) << i;

  // The pin variable still holds 300 after the open.
  rig.Reopen();
  float cutoff;
  std::memcpy(&cutoff, rig.Instance().PinVariable(kCutoff), sizeof cutoff);
  EXPECT_EQ(cutoff, 300.0f);

  rig.SetCutoff(rig.Clock() + 4, 300.0f);  // the same value: still no recompute
  rig.SetCutoff(rig.Clock() + 12, 900.0f);
  ref.Coefficients(40.0f);
  std::vector<bool> pulses2 = PulsesOf(input);
  pulses2[0] = input.back() * input[0] < 0.0f;  // the detector remembers the last sample
  std::vector<float> again = rig.Run(std::vector<float>(input.begin(), input.end()));
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(Bits(again[i]), Bits(ref.Step(pulses2[i]))) << i;
  ref.Coefficients(900.0f);
  std::vector<float> after = rig.Run(input);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(Bits(after[i]), Bits(ref.Step(pulses2[i]))) << i;
}

// The rate counts only at open: set afterwards, it waits for the next open.
TEST_F(TonevoltTest, SampleRateTakesEffectAtTheNextOpen) {
  TonevoltRig rig(m_main);
  rig.Instance().SetSampleRate(48000.0f);
  std::vector<float> out = rig.Run({1.0f, 0.0f});
  EXPECT_EQ(Bits(out[1]), 0x3bcd499bu);  // 44100 Hz coefficients

  TonevoltRig reopened(m_main);
  reopened.Instance().SetSampleRate(48000.0f);
  reopened.Reopen();
  out = reopened.Run({1.0f, 0.0f});
  EXPECT_EQ(Bits(out[1]), 0x3bbca6c6u);  // 48000 Hz coefficients
}

}  // namespace
