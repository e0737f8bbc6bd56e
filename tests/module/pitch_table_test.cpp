// 1 V/oct output: the table's entries, the lookup's interpolation and
// clamps, and the floating-point control state a call leaves behind.
#include <xmmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "ModuleFixture.h"
#include "TonevoltRig.h"

namespace {

// ------------------------------------------------- thread's FP control

struct ControlWords {
  uint16_t x87;
  uint32_t mxcsr;  // control bits only; the sticky flags (bits 0-5) dropped
  bool operator==(const ControlWords& o) const { return x87 == o.x87 && mxcsr == o.mxcsr; }
};

std::ostream& operator<<(std::ostream& out, const ControlWords& w) {
  return out << std::hex << "x87 0x" << w.x87 << ", mxcsr 0x" << w.mxcsr << std::dec;
}

ControlWords ReadControlWords() {
  ControlWords words;
  __asm__ __volatile__("fnstcw %0" : "=m"(words.x87));
  words.mxcsr = _mm_getcsr() & ~0x3Fu;
  return words;
}

void LoadControlWords(ControlWords words) {
  __asm__ __volatile__("fldcw %0" : : "m"(words.x87));
  _mm_setcsr(words.mxcsr);
}

// Sets the thread's rounding mode for a scope and restores the words found.
class RoundingScope {
 public:
  // rc: 0 nearest, 1 down, 2 up, 3 toward zero.
  explicit RoundingScope(uint32_t rc) : m_saved(ReadControlWords()) {
    ControlWords words = m_saved;
    words.x87 = static_cast<uint16_t>((words.x87 & ~0x0C00u) | (rc << 10));
    words.mxcsr = (words.mxcsr & ~0x6000u) | (rc << 13);
    LoadControlWords(words);
  }
  ~RoundingScope() { LoadControlWords(m_saved); }

 private:
  ControlWords m_saved;
};

constexpr uint32_t kNearest = 0, kUp = 2, kTowardZero = 3;

// ---------------------------------------------------------------- lookup

// From rest, input {+1, 0} gives no pulse and then one: the first sample
// reads t = 0, the second t = RZ(RZ(RZ(a0 * 1.0022) * 2.2) * octave * 10000)
// with a0 computed, under rounding toward zero, from the cutoff. The cutoffs
// and octaves were found offline by search with an exact model of those
// rounding steps (Python fractions), so that t lands where each case says.
// Expected bits: the table's own entries where t is whole; 55, 220, 440 and
// 880 Hz are not reachable exactly (no float v has v * 10000 within an ulp of
// them), so t is one ulp above and the interpolation step, far below an ulp
// of the entry, truncates away. Other values: the same model's interpolation
// (1 - f) * entry n + f * entry n+1, rounded toward zero.
struct LookupCase {
  const char* what;
  uint32_t cutoff;  // float bits
  int32_t octave;
  uint32_t value;     // the 1 V/kHz value v fed to the lookup
  double t;           // v * 10000, rounded toward zero
  uint32_t expected;  // 1 V/oct output
};

const LookupCase kLookupCases[] = {
    {"t = 1: entry 1", 0x3f22fe71u, 3, 0x38d1b718u, 1.0, 0xbec19b0au},
    {"t just above 55: entry 55", 0x438eeb2cu, 0, 0x3bb43959u, 55.000003814697266, 0x3e4ccccdu},
    {"t just above 220: entry 220", 0x438eeb2cu, 2, 0x3cb43959u, 220.00001525878906, 0x3ecccccdu},
    {"t just above 440: entry 440 (5 V)", 0x438eeb2cu, 3, 0x3d343959u, 440.0000305175781,
     0x3f000000u},
    {"t just above 880: entry 880", 0x438eeb2cu, 4, 0x3db43959u, 880.0000610351562, 0x3f19999au},
    {"t = 1000: entry 1000", 0x4426ba7bu, 3, 0x3dcccccdu, 1000.0, 0x3f1e523fu},
    {"t = 11998: entry 11998", 0x448010f0u, 6, 0x3f99930cu, 11998.0, 0x3f7a1714u},
    {"t = 11999: entry 11999", 0x448013e0u, 6, 0x3f999653u, 11999.0, 0x3f7a17deu},
    {"t = 0.5: between entries 0 and 1", 0x3d22fcabu, 6, 0x3851b718u, 0.5, 0xbf2399f5u},
    {"t = -0.5: extrapolates below entry 0", 0xbea2fb9au, 3, 0xb851b718u, -0.5, 0xbf94996bu},
    {"t = -1: entry 0", 0xbf22faa8u, 3, 0xb8d1b718u, -1.0, 0xbf666666u},
    {"t = -158.2: entry 0", 0xc2c80000u, 3, 0xbc8197eeu, -158.19515991210938, 0xbf666666u},
    {"t = 11998.5: between the last two", 0x44801267u, 6, 0x3f9994b0u, 11998.5, 0x3f7a1779u},
    {"t = 22048: entry 11999", 0x4e6e6b28u, 3, 0x400d1b96u, 22048.0859375, 0x3f7a17deu},
    {"t = 176384: entry 11999", 0x4e6e6b28u, 6, 0x418d1b96u, 176384.6875, 0x3f7a17deu},
    {"t beyond int32: entry 0", 0xc65b55dfu, 3, 0x4bbde8bau, 248917639168.0, 0xbf666666u},
};

TEST_F(TonevoltTest, LookupReadsAndInterpolatesTheTable) {
  for (const LookupCase& c : kLookupCases) {
    SCOPED_TRACE(c.what);
    TonevoltRig pitch(m_main);
    pitch.Set(0, kFreqScale, 1);
    pitch.Set(0, kOctave, c.octave);
    pitch.SetCutoff(0, FromBits(c.cutoff));
    std::vector<float> out = pitch.Run({1.0f, 0.0f});
    EXPECT_EQ(Bits(out[0]), 0xbf666666u);  // t = 0: entry 0, -0.9
    EXPECT_EQ(Bits(out[1]), c.expected);

    // The same input in 1 V/kHz mode on a thread that rounds toward zero
    // shows the value the lookup was given, and so t.
    RoundingScope toward_zero(kTowardZero);
    TonevoltRig linear(m_main);
    linear.Set(0, kOctave, c.octave);
    linear.SetCutoff(0, FromBits(c.cutoff));
    float v = linear.Run({1.0f, 0.0f})[1];
    EXPECT_EQ(Bits(v), c.value);
    EXPECT_EQ(static_cast<double>(v * 10000.0f), c.t);
  }
}

// A filter made non-finite by an infinite cutoff: every t is NaN, entry 0.
TEST_F(TonevoltTest, NotANumberReadsEntryZero) {
  TonevoltRig pitch(m_main);
  pitch.Set(0, kFreqScale, 1);
  pitch.SetCutoff(0, std::numeric_limits<float>::infinity());
  for (float x : pitch.Run({1.0f, 0.0f, -1.0f})) EXPECT_EQ(Bits(x), 0xbf666666u);

  TonevoltRig linear(m_main);
  linear.SetCutoff(0, std::numeric_limits<float>::infinity());
  for (float x : linear.Run({1.0f, 0.0f, -1.0f})) EXPECT_TRUE(std::isnan(x));
}

// In 1 V/oct mode the whole call truncates: the coefficient update for the
// default 40 Hz, the stages, and the crossing product. Values from the exact
// offline model; entries off the spot-checked list come from the table's
// formula evaluated in double (0.1 * (log2(i / 440) + 5)).
TEST_F(TonevoltTest, WholeVoltPerOctaveCallRoundsTowardZero) {
  struct Case {
    const char* what;
    std::vector<float> input;
    std::vector<uint32_t> expected;
  };
  const Case cases[] = {
      {"one pulse at 40 Hz", {1.0f, 0.0f, 0.0f}, {0xbf666666u, 0x3e600830u, 0x3ea30201u}},
      // 1e-22 * -1e-23 is -1e-45: the least denormal when rounding to
      // nearest, but -0.0 toward zero, so no pulse until the zero.
      {"product truncates to -0.0",
       {1e-22f, -1e-23f, 0.0f},
       {0xbf666666u, 0xbf666666u, 0x3e600830u}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TonevoltRig rig(m_main);
    rig.Set(0, kFreqScale, 1);
    std::vector<float> out = rig.Run(c.input);
    std::vector<uint32_t> bits;
    for (float x : out) bits.push_back(Bits(x));
    EXPECT_EQ(bits, c.expected);
  }
}

// ------------------------------------------------------- control words

// 1 V/kHz calls leave the thread's words alone; 1 V/oct calls leave the
// words captured at the latest open of any instance, whatever was in force
// on entry.
TEST_F(TonevoltTest, CallsLeaveTheControlWordsOfTheirMode) {
  RoundingScope nearest(kNearest);
  TonevoltRig first(m_main);
  const ControlWords at_first_open = ReadControlWords();
  first.Set(0, kFreqScale, 0);
  first.Set(4, kFreqScale, 1);
  first.Set(8, kFreqScale, 0);
  const std::vector<float> input = {1.0f, -1.0f, 1.0f, -1.0f};

  {
    RoundingScope up(kUp);
    const ControlWords set = ReadControlWords();
    first.Run(input);  // 1 V/kHz
    EXPECT_EQ(ReadControlWords(), set);
    first.Run(input);  // 1 V/oct
    EXPECT_EQ(ReadControlWords(), at_first_open);

    // Another instance opened while rounding up: its words now come back
    // from every 1 V/oct call, the first instance's included.
    LoadControlWords(set);
    TonevoltRig second(m_main);
    EXPECT_EQ(ReadControlWords(), set);
    {
      RoundingScope toward_zero(kTowardZero);
      const ControlWords truncating = ReadControlWords();
      first.Run(input);  // 1 V/kHz again
      EXPECT_EQ(ReadControlWords(), truncating);
      first.Set(12, kFreqScale, 1);
      first.Run(input);
      EXPECT_EQ(ReadControlWords(), set);
    }
  }
}

}  // namespace
