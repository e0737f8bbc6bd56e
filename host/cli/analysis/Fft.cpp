#include "analysis/Fft.h"

#include <cmath>
#include <utility>

namespace tonevolt {

Fft::Fft(size_t n) : m_n(n), m_cos(n / 2), m_sin(n / 2) {
  int bits = 0;
  while ((size_t{1} << bits) < n) ++bits;
  for (size_t i = 0; i < n; ++i) {
    size_t r = 0;
    for (int b = 0; b < bits; ++b)
      if (i & (size_t{1} << b)) r |= size_t{1} << (bits - 1 - b);
    if (i < r) {
      m_swap.push_back(i);
      m_swap.push_back(r);
    }
  }
  for (size_t k = 0; k < n / 2; ++k) {
    double angle = -2.0 * M_PI * static_cast<double>(k) / static_cast<double>(n);
    m_cos[k] = std::cos(angle);
    m_sin[k] = std::sin(angle);
  }
}

void Fft::Transform(double* re, double* im, bool inverse) const {
  for (size_t i = 0; i < m_swap.size(); i += 2) {
    std::swap(re[m_swap[i]], re[m_swap[i + 1]]);
    std::swap(im[m_swap[i]], im[m_swap[i + 1]]);
  }
  const double sign = inverse ? -1.0 : 1.0;
  for (size_t half = 1; half < m_n; half *= 2) {
    const size_t stride = m_n / (2 * half);
    for (size_t start = 0; start < m_n; start += 2 * half) {
      for (size_t j = 0; j < half; ++j) {
        const double wr = m_cos[j * stride], wi = sign * m_sin[j * stride];
        const size_t a = start + j, b = a + half;
        const double tr = re[b] * wr - im[b] * wi;
        const double ti = re[b] * wi + im[b] * wr;
        re[b] = re[a] - tr;
        im[b] = im[a] - ti;
        re[a] += tr;
        im[a] += ti;
      }
    }
  }
}

}  // namespace tonevolt
