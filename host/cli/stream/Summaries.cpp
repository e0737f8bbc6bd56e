#include "stream/Summaries.h"

namespace tonevolt {

std::vector<SliceMeans::Slice> SliceMeans::Slices(size_t slices) const {
  const size_t buckets = m_buckets.All().size();
  slices = std::min(std::max<size_t>(slices, 1), buckets);
  std::vector<Slice> result;
  for (size_t s = 0; s < slices; ++s) {
    size_t from = buckets * s / slices, to = buckets * (s + 1) / slices;
    Slice slice{m_buckets.First(from), 0, 0.0};
    double sum = 0;
    for (size_t k = from; k < to; ++k) {
      sum += m_buckets.All()[k].sum;
      slice.count += m_buckets.Count(k);
    }
    slice.mean = sum / static_cast<double>(slice.count);
    result.push_back(slice);
  }
  return result;
}

}  // namespace tonevolt
