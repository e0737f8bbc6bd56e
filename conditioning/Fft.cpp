#include "conditioning/Fft.h"

#include <cmath>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "conditioning/PortableMath.h"

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
      size_t j = 0;
#if defined(__SSE2__)
      // Two butterflies at a time: the same multiplications, additions and
      // roundings as one at a time, so the same bits.
      const __m128d signs = _mm_set1_pd(sign);
      for (; j + 2 <= half; j += 2) {
        const __m128d wr = _mm_loadu_pd(cosines + j);
        const __m128d wi = _mm_mul_pd(signs, _mm_loadu_pd(sines + j));
        const __m128d xr = _mm_loadu_pd(br + j), xi = _mm_loadu_pd(bi + j);
        const __m128d tr = _mm_sub_pd(_mm_mul_pd(xr, wr), _mm_mul_pd(xi, wi));
        const __m128d ti = _mm_add_pd(_mm_mul_pd(xr, wi), _mm_mul_pd(xi, wr));
        const __m128d yr = _mm_loadu_pd(ar + j), yi = _mm_loadu_pd(ai + j);
        _mm_storeu_pd(br + j, _mm_sub_pd(yr, tr));
        _mm_storeu_pd(bi + j, _mm_sub_pd(yi, ti));
        _mm_storeu_pd(ar + j, _mm_add_pd(yr, tr));
        _mm_storeu_pd(ai + j, _mm_add_pd(yi, ti));
      }
#endif
      for (; j < half; ++j) {
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
