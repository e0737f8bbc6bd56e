// The partials of an analysis window (its Hann-weighted spectrum, padded to
// twice its length) and what they say of the pitch: the lowest partial that
// stands out, and whether they all fit one harmonic series. It looks at the
// sound itself, apart from any tracker's reading: a tracker taken in by an
// undertone or a harmonic does not take the spectrum with it.
#pragma once

#include <memory>
#include <vector>

namespace tonevolt {

class WindowPartials {
 public:
  // window: samples analysed, a power of two.
  WindowPartials(int window, int sample_rate);
  ~WindowPartials();
  WindowPartials(const WindowPartials&) = delete;
  WindowPartials& operator=(const WindowPartials&) = delete;

  void Analyse(const float* window);

  // The lowest partial that stands out (no more than 40 dB below the
  // strongest) among the first four harmonics of hz, placed between bins;
  // hz itself, as the 1st, when none does. A crossing counter behind a
  // low-pass counts the lowest partial there is: where the fundamental is
  // missing (a piano's lowest notes, an organ's mixtures, a sound through a
  // small speaker) that is a harmonic, above the note heard. A lowest
  // partial with nothing standing out between its own multiples is the note
  // itself, hz an undertone of it: the 1st.
  struct LowestPartial {
    double hz = 0;
    int harmonic = 1;  // of hz
  };
  LowestPartial FindLowestPartial(double hz) const;
  // The fundamental of the one harmonic series the partials that stand out
  // fit: hz's own where they fit it (hz 0: a tracker found none), else the
  // lowest strong partial's or a half or third of it (the fundamental
  // missing); 0 where they fit none (a chord, or several sounds at once);
  // kNoPartials where none stand out (noise, silence).
  double Series(double hz) const;
  static constexpr double kNoPartials = -1;
  // Series(hz) == 0: no pitch of one sound.
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
