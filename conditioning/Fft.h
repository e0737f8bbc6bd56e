// A radix-2 complex FFT in double, for correlations that would cost a
// window's length per lag done directly.
#pragma once

#include <cstddef>
#include <vector>

namespace tonevolt {

class Fft {
 public:
  // n: a power of two, at least 2.
  explicit Fft(size_t n);

  size_t Size() const { return m_n; }
  // In place: X[k] = sum x[j] e^(-2 pi i jk/n), or with +i and unscaled
  // when inverse.
  void Transform(double* re, double* im, bool inverse) const;

 private:
  size_t m_n;
  std::vector<size_t> m_swap;        // bit-reversed pairs, each once
  std::vector<double> m_cos, m_sin;  // each pass's e^(-pi i j/half), j < half
};

}  // namespace tonevolt
