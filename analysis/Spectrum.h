// The spectrum of an analysis window, Hann-weighted and padded to twice its
// length, and what its partials say of the pitch: the lowest partial that
// stands out, and whether they all fit one harmonic series. It looks at the
// sound itself, apart from any tracker's reading: a tracker taken in by an
// undertone or a harmonic does not take the spectrum with it.
#pragma once

#include <memory>
#include <vector>

namespace tonevolt {

class WindowSpectrum {
 public:
  // window: samples analysed, a power of two.
  WindowSpectrum(int window, int sample_rate);
  ~WindowSpectrum();
  WindowSpectrum(const WindowSpectrum&) = delete;
  WindowSpectrum& operator=(const WindowSpectrum&) = delete;

  void Analyse(const float* window);

  // The lowest partial that stands out (no more than 40 dB below the
  // strongest) among the first four harmonics of hz, placed between bins;
  // hz itself when none does. A fundamental that is missing (a piano's
  // lowest notes, an organ's mixtures) is no use to a crossing counter:
  // behind a low-pass it counts the lowest partial there is.
  double FundamentalPeak(double hz) const;
  // Partials stand out of the spectrum but fit no one harmonic series (a
  // chord, or several sounds at once), so the pitch hz is none of theirs
  // alone. hz 0: the tracker found none.
  bool SeveralPitches(double hz) const;

 private:
  struct Transform;
  int m_window;
  int m_size;  // of the transform: twice the window
  int m_rate;
  std::vector<float> m_hann;
  std::vector<float> m_norm;  // |X[k]| for k = 0 .. m_size / 2
  std::unique_ptr<Transform> m_transform;
};

}  // namespace tonevolt
