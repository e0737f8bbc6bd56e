// A pre-filter ahead of the crossing counter: it takes harmonics out of the
// signal so that the module counts only the fundamental's crossings.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace tonevolt {

struct PrefilterChoice {
  enum class Kind {
    kOff,     // the signal unchanged
    kRange,   // "range:LO": high-pass at LO / 2 (2-pole Butterworth), low-pass at LO (4-pole)
    kNote,    // "note:F": 8-pole elliptic low-pass, passband to 1.3 F, 0.5 dB ripple, 80 dB stop
    kFollow,  // "follow": the note's band, moved with the tune (see FollowFilter)
    kLive,    // "live": the same steered causally, as the tracker plug-ins run it (LiveTracker)
    kBand,    // one note's band as kFollow uses it: note:F's low-pass, high-pass at F / 2
  };
  Kind kind = Kind::kOff;
  double hz = 0;  // LO or F
  // "live:hold": behind the module, each note's reading held through the
  // silence after it, as the tracker plug-ins' hold does (NoteHold).
  bool hold = false;
};

class Prefilter {
 public:
  // note:F's passband ends at this times F: its steep low-pass keeps F and
  // stops the second harmonic of a note a fifth below.
  static constexpr double kNoteEdgeFactor = 1.3;

  // Designs the filter for a sample rate; null and a one-line error when it
  // cannot be built there (an edge at or above the Nyquist frequency). Not
  // for kFollow and kLive, which are built from kBand filters.
  static std::unique_ptr<Prefilter> Create(const PrefilterChoice& choice, double sample_rate,
                                           std::string* error);

  // Filters the next block; in == out is allowed. State carries over blocks.
  void Process(const float* in, float* out, size_t count);
  // Back to rest, as if nothing had been processed.
  void Reset();

  // The designed magnitude response at hz, in dB (0 for off).
  double GainDb(double hz) const;
  // The group delay at hz, in seconds (0 for off): how late a tone there
  // comes out.
  double DelaySeconds(double hz) const;
  const PrefilterChoice& Choice() const { return m_choice; }
  // Each section's b0 b1 b2 a1 a2 in the order they run (none for off).
  std::vector<double> Coefficients() const;

 private:
  // b0 + b1 z^-1 + b2 z^-2 over 1 + a1 z^-1 + a2 z^-2, run in transposed
  // direct form II in double.
  struct Section {
    double b0, b1, b2, a1, a2;
    double s1 = 0, s2 = 0;
  };

  Prefilter(const PrefilterChoice& choice, double sample_rate)
      : m_choice(choice), m_rate(sample_rate) {}
  bool Design(std::string* error);

  PrefilterChoice m_choice;
  double m_rate;
  std::vector<Section> m_sections;
};

}  // namespace tonevolt
