// The fixed-memory summaries behind the plot and the render summary.
#include "stream/Summaries.h"

#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <vector>

namespace tonevolt {
namespace {

std::vector<float> Ramp(size_t count) {
  std::vector<float> values(count);
  std::iota(values.begin(), values.end(), 0.0f);
  return values;
}

struct Column {
  uint64_t first, count;
  float lo, hi;
  bool operator==(const Column& o) const {
    return first == o.first && count == o.count && lo == o.lo && hi == o.hi;
  }
};

std::vector<Column> Columns(const Envelope& envelope) {
  std::vector<Column> columns;
  for (size_t k = 0; k < envelope.All().size(); ++k)
    columns.push_back(
        {envelope.First(k), envelope.Count(k), envelope.All()[k].lo, envelope.All()[k].hi});
  return columns;
}

// Capacity 2: four buckets of one sample, then two of two and a new one,
// then two of four and the part-full last one.
TEST(Envelope, MergesNeighboursWhenFullWhateverTheBlocks) {
  const std::vector<float> values = Ramp(10);
  const std::vector<Column> expected = {{0, 4, 0, 3}, {4, 4, 4, 7}, {8, 2, 8, 9}};
  for (size_t block : {1, 3, 10}) {
    SCOPED_TRACE(block);
    Envelope envelope(2);
    for (size_t at = 0; at < values.size(); at += block)
      envelope.Add(values.data() + at, std::min(block, values.size() - at));
    EXPECT_EQ(Columns(envelope), expected);
    EXPECT_EQ(envelope.Width(), 4u);
    EXPECT_EQ(envelope.Samples(), 10u);
  }
}

TEST(Envelope, SkipsWhatIsNotFinite) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> values = {nan, 2.0f, -inf, -1.0f, nan, inf};
  Envelope envelope(3);
  envelope.Add(values.data(), values.size());
  ASSERT_EQ(envelope.All().size(), 6u);
  EXPECT_FALSE(envelope.All()[0].finite);
  EXPECT_EQ(Columns(envelope)[1], (Column{1, 1, 2.0f, 2.0f}));
  MinMax all;
  for (const MinMax& column : envelope.All()) all.Merge(column);
  EXPECT_TRUE(all.finite);
  EXPECT_EQ(all.lo, -1.0f);
  EXPECT_EQ(all.hi, 2.0f);
}

TEST(Envelope, StaysWithinTwiceItsCapacity) {
  Envelope envelope(kEnvelopeColumns);
  const std::vector<float> block = Ramp(4096);
  for (int i = 0; i < 1000; ++i) envelope.Add(block.data(), block.size());
  EXPECT_GE(envelope.All().size(), kEnvelopeColumns);
  EXPECT_LE(envelope.All().size(), 2 * kEnvelopeColumns);
  EXPECT_EQ(envelope.Samples(), 4096000u);
  size_t last = envelope.All().size() - 1;
  EXPECT_EQ(envelope.First(last) + envelope.Count(last), envelope.Samples());
}

TEST(SliceMeans, MeansOverRunsOfWholeBuckets) {
  const std::vector<float> values = Ramp(10);
  SliceMeans means(2);  // buckets 0..3, 4..7, 8..9
  means.Add(values.data(), values.size());
  const struct {
    size_t slices;
    std::vector<SliceMeans::Slice> expected;
  } kCases[] = {
      {1, {{0, 10, 4.5}}},
      {2, {{0, 4, 1.5}, {4, 6, 6.5}}},
      {10, {{0, 4, 1.5}, {4, 4, 5.5}, {8, 2, 8.5}}},  // no more slices than buckets
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.slices);
    std::vector<SliceMeans::Slice> slices = means.Slices(c.slices);
    ASSERT_EQ(slices.size(), c.expected.size());
    for (size_t s = 0; s < slices.size(); ++s) {
      EXPECT_EQ(slices[s].first, c.expected[s].first);
      EXPECT_EQ(slices[s].count, c.expected[s].count);
      EXPECT_DOUBLE_EQ(slices[s].mean, c.expected[s].mean);
    }
  }
}

}  // namespace
}  // namespace tonevolt
