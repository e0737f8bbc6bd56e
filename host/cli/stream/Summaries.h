// Summaries of a signal of any length in fixed memory, built as it streams
// past: the plot's min/max envelope and the summary's means over time.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonevolt {

// Between `capacity` and 2 x `capacity` buckets of equal width in samples
// (the last may be part full); when all are full, neighbours merge and the
// width doubles. Bucket k covers samples [k * Width(), (k + 1) * Width()).
template <typename Bucket>
class Buckets {
 public:
  explicit Buckets(size_t capacity) : m_capacity(std::max<size_t>(1, capacity)) {}

  void Add(const float* values, size_t count) {
    while (count > 0) {
      if (m_buckets.empty() || m_last_count == m_width) {
        if (m_buckets.size() == 2 * m_capacity) Halve();
        m_buckets.emplace_back();
        m_last_count = 0;
      }
      size_t take = static_cast<size_t>(std::min<uint64_t>(count, m_width - m_last_count));
      Bucket& bucket = m_buckets.back();
      for (size_t i = 0; i < take; ++i) bucket.Add(values[i]);
      m_last_count += take;
      m_samples += take;
      values += take;
      count -= take;
    }
  }

  const std::vector<Bucket>& All() const { return m_buckets; }
  uint64_t Width() const { return m_width; }
  uint64_t Samples() const { return m_samples; }
  uint64_t First(size_t k) const { return k * m_width; }
  uint64_t Count(size_t k) const { return std::min(m_width, m_samples - First(k)); }

 private:
  void Halve() {
    for (size_t k = 0; k < m_capacity; ++k) {
      Bucket merged = m_buckets[2 * k];
      merged.Merge(m_buckets[2 * k + 1]);
      m_buckets[k] = merged;
    }
    m_buckets.resize(m_capacity);
    m_width *= 2;
  }

  size_t m_capacity;
  uint64_t m_width = 1;
  uint64_t m_last_count = 0;  // samples in the last bucket
  uint64_t m_samples = 0;
  std::vector<Bucket> m_buckets;
};

// The range of the finite values in a bucket.
struct MinMax {
  float lo = 0, hi = 0;
  bool finite = false;  // any finite value seen

  void Add(float v) {
    if (!std::isfinite(v)) return;
    lo = finite ? std::min(lo, v) : v;
    hi = finite ? std::max(hi, v) : v;
    finite = true;
  }
  void Merge(const MinMax& other) {
    if (!other.finite) return;
    Add(other.lo);
    Add(other.hi);
  }
};

struct Sum {
  double sum = 0;
  void Add(float v) { sum += v; }
  void Merge(const Sum& other) { sum += other.sum; }
};

// Min and max per column of a plot, so that peaks survive: 600 to 1200
// columns, never more than the plot's 1200-odd pixels, as a column narrower
// than a pixel draws a moire of partial ripples.
using Envelope = Buckets<MinMax>;
constexpr size_t kEnvelopeColumns = 600;

// Means over stretches of time.
class SliceMeans {
 public:
  explicit SliceMeans(size_t buckets = 1024) : m_buckets(buckets) {}
  void Add(const float* values, size_t count) { m_buckets.Add(values, count); }
  uint64_t Samples() const { return m_buckets.Samples(); }

  struct Slice {
    uint64_t first, count;
    double mean;
  };
  // The signal in `slices` runs of whole buckets, as even as the buckets allow.
  std::vector<Slice> Slices(size_t slices) const;

 private:
  Buckets<Sum> m_buckets;
};

}  // namespace tonevolt
