#include "analysis/Fft.h"

#include <cmath>
#include <utility>

#include "analysis/PortableMath.h"

namespace tonevolt {

Fft::Fft(size_t n) : m_n(n) {
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
  // Each pass's twiddles side by side: pass `half` uses k * n / (2 half).
  // PortableMath's, so that the transform has the same bits on every
  // architecture.
  for (size_t half = 1; half < n; half *= 2) {
    for (size_t j = 0; j < half; ++j) {
      double angle = -M_PI * static_cast<double>(j) / static_cast<double>(half);
      m_cos.push_back(PortableCos(angle));
      m_sin.push_back(PortableSin(angle));
    }
  }
}

void Fft::Transform(double* re, double* im, bool inverse) const {
  for (size_t i = 0; i < m_swap.size(); i += 2) {
    std::swap(re[m_swap[i]], re[m_swap[i + 1]]);
    std::swap(im[m_swap[i]], im[m_swap[i + 1]]);
  }
  const double sign = inverse ? -1.0 : 1.0;
  const double* cosines = m_cos.data();
  const double* sines = m_sin.data();
  for (size_t half = 1; half < m_n; half *= 2) {
    for (size_t start = 0; start < m_n; start += 2 * half) {
      double* ar = re + start;
      double* ai = im + start;
      double* br = ar + half;
      double* bi = ai + half;
      for (size_t j = 0; j < half; ++j) {
        const double wr = cosines[j], wi = sign * sines[j];
        const double tr = br[j] * wr - bi[j] * wi;
        const double ti = br[j] * wi + bi[j] * wr;
        br[j] = ar[j] - tr;
        bi[j] = ai[j] - ti;
        ar[j] += tr;
        ai[j] += ti;
      }
    }
    cosines += half;
    sines += half;
  }
}

}  // namespace tonevolt
