// Signals and settings that both the 32-bit module (through its record) and
// the core on its own (on any architecture) must turn into the same output
// bits. Each scenario is a run of segments; a segment's settings apply from
// its first sample, as pin events at that sample would. The expected digest
// of every scenario is checked in below.
//
// The inputs are built from integers only, so every architecture sees the
// same bits. Only the sign and zero pattern of the input reaches the
// output, but the generator also mixes in NaN, infinities, -0.0 and
// denormals, which the crossing test must treat alike everywhere.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace core_scenarios {

struct Segment {
  int32_t length;   // samples
  float cutoff;     // Hz
  int32_t octave;   // list index, 3 = no shift
  int32_t scale;    // 1 = 1 V/oct
  int32_t order;    // 1 = two poles
  uint32_t period;  // input period in samples; 0 = silence
};

struct Scenario {
  const char* name;
  float rate;
  std::vector<Segment> segments;
  uint64_t digest;  // FNV-1a 64 of the output bits
};

// Obtained from the module: run the i386 suite with TONEVOLT_PRINT_DIGESTS=1
// (CoreScenarios.ModuleMatchesCheckedInDigests prints what it computed), after
// checking that the Linux and Win32 builds agree (cross.same_output).
inline const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> scenarios = {
      {"khz_one_pole_octaves",
       44100.0f,
       {{3000, 40.0f, 3, 0, 0, 100},
        {3000, 40.0f, 6, 0, 0, 37},
        {3000, 40.0f, 0, 0, 0, 7},
        {3000, 40.0f, 9, 0, 0, 250}},
       0x33a054ab2246ee73ull},
      {"khz_two_poles_cutoff_change",
       48000.0f,
       {{4000, 40.0f, 3, 0, 1, 109}, {4000, 333.0f, 4, 0, 1, 55}, {2000, 10.0f, 1, 0, 1, 0}},
       0xbaa262a6a48391ffull},
      {"oct_one_pole",
       44100.0f,
       {{5000, 40.0f, 3, 1, 0, 100}, {5000, 120.0f, 5, 1, 0, 20}, {2000, 120.0f, 2, 1, 0, 0}},
       0x4c4f839553a07f06ull},
      {"oct_two_poles_octaves",
       96000.0f,
       {{4000, 25.0f, 3, 1, 1, 218}, {4000, 25.0f, 0, 1, 1, 40}, {4000, 2500.0f, 6, 1, 1, 9}},
       0xe9844620a71953aaull},
      {"scale_and_order_switches",
       22050.0f,
       {{2500, 40.0f, 3, 0, 0, 50},
        {2500, 40.0f, 3, 1, 0, 50},
        {2500, 80.0f, 3, 1, 1, 13},
        {2500, 80.0f, 4, 0, 1, 13},
        {2500, 5000.0f, 3, 0, 0, 3}},
       0xf4726a4651cc7d57ull},
  };
  return scenarios;
}

// The input of a segment: a square-like wave of the segment's period whose
// levels wander, with special values mixed in now and then.
inline std::vector<float> SegmentInput(const Segment& segment, uint32_t seed) {
  std::vector<float> input(static_cast<size_t>(segment.length));
  uint32_t state = seed * 2654435761u + 1u;
  for (int32_t i = 0; i < segment.length; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    float x = 0.0f;
    if (segment.period != 0) {
      const bool high = (static_cast<uint32_t>(i) % segment.period) * 2 < segment.period;
      x = static_cast<float>(static_cast<int32_t>(state % 1000u) + 1) / 1024.0f;
      if (!high) x = -x;
    }
    switch (state % 97u) {
      case 0:
        x = std::numeric_limits<float>::quiet_NaN();
        break;
      case 1:
        x = -0.0f;
        break;
      case 2:
        x = std::numeric_limits<float>::denorm_min();
        break;
      case 3:
        x = -std::numeric_limits<float>::infinity();
        break;
      default:
        break;
    }
    input[static_cast<size_t>(i)] = x;
  }
  return input;
}

inline uint64_t Digest(const std::vector<float>& output) {
  uint64_t hash = 1469598103934665603ull;
  for (float y : output) {
    uint32_t bits;
    std::memcpy(&bits, &y, sizeof bits);
    for (int byte = 0; byte < 4; ++byte) {
      hash ^= (bits >> (8 * byte)) & 0xFFu;
      hash *= 1099511628211ull;
    }
  }
  return hash;
}

}  // namespace core_scenarios
