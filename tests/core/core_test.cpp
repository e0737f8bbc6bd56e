// The core alone, built for this machine's architecture, gives the module's
// output bits for the shared scenarios. The floating-point control state is
// handled here as the 32-bit module handles it: round to nearest, and
// rounding toward zero for the whole of a 1 V/oct piece.
#include <gtest/gtest.h>

#include <vector>

#include "CoreScenarios.h"
#include "FpuControl.h"
#include "TonevoltCore.h"

namespace {

std::vector<float> RunThroughCore(const core_scenarios::Scenario& scenario, int32_t piece) {
  MaskFpuExceptions();
  const FpuControlWords open_words = ReadFpuControlWords();

  TonevoltCore core;
  core.Open(scenario.rate);
  core.BuildPitchTable();

  std::vector<float> output;
  uint32_t seed = 0;
  for (const core_scenarios::Segment& segment : scenario.segments) {
    core.SetCutoff(segment.cutoff);
    core.SetOctaveIndex(segment.octave);
    core.SetFreqScale(segment.scale);
    core.SetFilterOrder(segment.order);
    const std::vector<float> input = core_scenarios::SegmentInput(segment, ++seed);
    std::vector<float> part(input.size());
    for (int32_t start = 0; start < segment.length; start += piece) {
      const int32_t count = std::min(piece, segment.length - start);
      LoadFpuControlWords(CallWords(open_words, core.VoltPerOctave()));
      core.Process(input.data() + start, part.data() + start, count);
      LoadFpuControlWords(open_words);
    }
    output.insert(output.end(), part.begin(), part.end());
  }
  return output;
}

TEST(CoreScenarios, MatchTheModulesDigests) {
  for (const core_scenarios::Scenario& scenario : core_scenarios::Scenarios()) {
    for (int32_t piece : {1, 64, 1000, 100000}) {
      EXPECT_EQ(core_scenarios::Digest(RunThroughCore(scenario, piece)), scenario.digest)
          << scenario.name << ", pieces of " << piece;
    }
  }
}

}  // namespace
