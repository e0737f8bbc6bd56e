#include "conditioning/Frequency.h"

#include <cctype>
#include <cmath>

#include "conditioning/Number.h"
#include "conditioning/PortableMath.h"

namespace tonevolt {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Letter A-G (any case), an optional '#' or 'b', and an octave number.
bool ParseNote(const std::string& text, double* hz) {
  static const int kSemitones[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
  if (text.size() < 2) return false;
  char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  if (letter < 'A' || letter > 'G') return false;
  int semitone = kSemitones[letter - 'A'];
  size_t i = 1;
  if (text[i] == '#') {
    ++semitone;
    ++i;
  } else if (text[i] == 'b') {
    --semitone;
    ++i;
  }
  bool negative = i < text.size() && text[i] == '-';
  if (negative) ++i;
  size_t digits = text.size() - i;
  if (digits < 1 || digits > 2) return false;
  int octave = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
    octave = octave * 10 + (text[i] - '0');
  }
  if (negative) octave = -octave;
  *hz = MidiNoteHz(12.0 * (octave + 1) + semitone);
  return true;
}

}  // namespace

// PortableExp2: the pre-filters are designed from this, alike on every
// architecture.
double MidiNoteHz(double midi_note) { return 440.0 * PortableExp2((midi_note - 69.0) / 12.0); }

bool ParseFrequency(const std::string& text, double* hz, std::string* error) {
  double value = 0;
  if (!ParseNumber(text, {"Hz"}, &value) && !ParseNote(text, &value)) {
    *error = "'" + text +
             "' is not a frequency: give Hz (such as 220 or 27.5) or a note (such as E1, C#5 "
             "or Bb3)";
    return false;
  }
  if (!(value >= kLowestFrequency && value <= kHighestFrequency)) {
    *error = "frequency '" + text + "' is outside 1 Hz to 20000 Hz";
    return false;
  }
  *hz = value;
  return true;
}

}  // namespace tonevolt
