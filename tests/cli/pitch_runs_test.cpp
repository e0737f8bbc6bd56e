// The run-finding under both note finders: values held within a tolerance
// of their run's running mean, cut where one strays or a NaN (no pitch)
// comes. Worked out by hand from the running means.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "notes/PitchRuns.h"

namespace tonevolt {
namespace {

struct RunsCase {
  const char* what;
  std::vector<double> values;
  std::vector<std::pair<size_t, size_t>> runs;  // first, last
};

TEST(FindPitchRuns, CutsWhereAValueLeavesTheRunningMean) {
  const RunsCase cases[] = {
      {"empty", {}, {}},
      {"one value", {0}, {{0, 0}}},
      {"one held note", {0, 10, -10, 20}, {{0, 3}}},
      {"a step of a semitone", {0, 0, 0, 100, 100}, {{0, 2}, {3, 4}}},
      // Means 0, 25, 30, 42.5: each value within 50 of the mean before it.
      {"a slow climb stays", {0, 50, 40, 80, 90}, {{0, 4}}},
      // Means 0, 25, 41.7: 50 and 75 are exactly 50 off and stay; 130 is not.
      {"the tolerance is inside", {0, 50, 75, 130}, {{0, 2}, {3, 3}}},
      {"no pitch ends a run", {0, 0, NAN, 0, 0}, {{0, 1}, {3, 4}}},
      {"no pitch alone", {NAN, NAN}, {}},
      {"a lone outlier is its own run", {0, 0, 200, 0}, {{0, 1}, {2, 2}, {3, 3}}},
  };
  for (const RunsCase& c : cases) {
    std::vector<std::pair<size_t, size_t>> found;
    for (const PitchRun& r : FindPitchRuns(c.values, 50)) {
      EXPECT_EQ(r.Length(), r.last - r.first + 1);
      found.emplace_back(r.first, r.last);
    }
    EXPECT_EQ(found, c.runs) << c.what;
  }
}

// The note report weighs each frame by its samples: a long frame pulls the
// mean further than a short one.
TEST(HeldPitch, WeighsValuesByTheirWeight) {
  HeldPitch held(50);
  EXPECT_TRUE(held.Empty());
  EXPECT_FALSE(held.Holds(0));
  held.Add(0, 3);
  held.Add(100, 1);  // mean 25
  EXPECT_TRUE(held.Holds(75));
  EXPECT_FALSE(held.Holds(76));
  EXPECT_TRUE(held.Holds(-25));
  held.Clear();
  EXPECT_TRUE(held.Empty());
  EXPECT_FALSE(held.Holds(0));
}

}  // namespace
}  // namespace tonevolt
