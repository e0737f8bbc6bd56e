// The module's output for the shared core scenarios matches the checked-in
// digests, which the core alone must also reproduce on x86-64.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "CoreScenarios.h"
#include "ModuleFixture.h"
#include "TonevoltRig.h"

namespace {

// Settings as pin events at each segment's first sample; the signal in host
// blocks that do not line up with the segments.
std::vector<float> RunThroughModule(WBMainProc main, const core_scenarios::Scenario& scenario) {
  TonevoltRig rig(main, scenario.rate);
  std::vector<float> input;
  uint32_t at = 0;
  uint32_t seed = 0;
  for (const core_scenarios::Segment& segment : scenario.segments) {
    rig.SetCutoff(at, segment.cutoff);
    rig.Set(at, kOctave, segment.octave);
    rig.Set(at, kFreqScale, segment.scale);
    rig.Set(at, kOrder, segment.order);
    std::vector<float> part = core_scenarios::SegmentInput(segment, ++seed);
    input.insert(input.end(), part.begin(), part.end());
    at += static_cast<uint32_t>(segment.length);
  }
  constexpr size_t kHostBlock = 1000;
  std::vector<float> output;
  for (size_t start = 0; start < input.size(); start += kHostBlock) {
    size_t end = std::min(input.size(), start + kHostBlock);
    std::vector<float> block =
        rig.Run(std::vector<float>(input.begin() + start, input.begin() + end));
    output.insert(output.end(), block.begin(), block.end());
  }
  return output;
}

TEST_F(TonevoltTest, CoreScenariosMatchCheckedInDigests) {
  const bool print = std::getenv("TONEVOLT_PRINT_DIGESTS") != nullptr;
  for (const core_scenarios::Scenario& scenario : core_scenarios::Scenarios()) {
    uint64_t digest = core_scenarios::Digest(RunThroughModule(m_main, scenario));
    if (print) std::printf("%s 0x%016" PRIx64 "ull\n", scenario.name, digest);
    EXPECT_EQ(digest, scenario.digest) << scenario.name;
  }
}

}  // namespace
