#include "options/Values.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "conditioning/Frequency.h"
#include "module/Readings.h"
#include "options/Number.h"

namespace tonevolt {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// A value as read, for a message: "9000", "5000.5", "1e+12".
std::string Format(double value) {
  std::ostringstream text;
  text.precision(10);
  text << value;
  return text.str();
}

std::string FormatHz(double hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g Hz", hz);
  return text;
}

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

// Split at the dash whose both sides parse: a note's octave may be negative.
bool ParseFrequencyRange(const std::string& text, double* low, double* high, std::string* error) {
  for (size_t at = text.find('-'); at != std::string::npos; at = text.find('-', at + 1)) {
    std::string why;
    if (at > 0 && ParseFrequency(text.substr(0, at), low, &why) &&
        ParseFrequency(text.substr(at + 1), high, &why)) {
      if (*low > *high) {
        *error = "'" + text + "' runs downwards: give LOW-HIGH";
        return false;
      }
      return true;
    }
  }
  *error = "'" + text + "' is not LOW-HIGH (such as E1-A3 or 41.2-220)";
  return false;
}

bool ParsePrefilter(const std::string& text, PrefilterChoice* choice, std::string* error) {
  std::string lower = Lower(text);
  PrefilterChoice parsed;
  std::string frequency;
  if (lower == "off" || lower == "follow" || lower == "live" || lower == "live:hold") {
    if (lower == "follow") parsed.kind = PrefilterChoice::Kind::kFollow;
    if (StartsWith(lower, "live")) parsed.kind = PrefilterChoice::Kind::kLive;
    parsed.hold = lower == "live:hold";
    *choice = parsed;
    return true;
  } else if (StartsWith(lower, "range:")) {
    parsed.kind = PrefilterChoice::Kind::kRange;
    frequency = text.substr(6);
  } else if (StartsWith(lower, "note:")) {
    parsed.kind = PrefilterChoice::Kind::kNote;
    frequency = text.substr(5);
  } else {
    *error = "unknown pre-filter '" + text +
             "': use off, follow, live, live:hold, range:LOWEST or note:NOTE";
    return false;
  }
  std::string why;
  if (!ParseFrequency(frequency, &parsed.hz, &why)) {
    *error = "pre-filter '" + text + "': " + why;
    return false;
  }
  *choice = parsed;
  return true;
}

std::string DescribePrefilter(const PrefilterChoice& choice) {
  const double edge = Prefilter::kNoteEdgeFactor * choice.hz;
  switch (choice.kind) {
    case PrefilterChoice::Kind::kRange:
      return "2-pole Butterworth high-pass at " + FormatHz(choice.hz / 2) +
             ", 4-pole Butterworth low-pass at " + FormatHz(choice.hz);
    case PrefilterChoice::Kind::kNote:
      return "8-pole elliptic low-pass, passband to " + FormatHz(edge) +
             " (0.5 dB ripple), 80 dB stopband";
    case PrefilterChoice::Kind::kBand:
      return "2-pole Butterworth high-pass at " + FormatHz(choice.hz / 2) +
             ", 8-pole elliptic low-pass to " + FormatHz(edge);
    case PrefilterChoice::Kind::kFollow:
      return "following the tune: for each note, a 2-pole Butterworth high-pass at half its "
             "pitch and an 8-pole elliptic low-pass to 1.3 times it";
    case PrefilterChoice::Kind::kLive:
      return std::string(
                 "following the tune as it comes, as the tracker plug-ins do: for each note, a "
                 "2-pole Butterworth high-pass at half its pitch and an 8-pole elliptic low-pass "
                 "to 1.3 times it") +
             (choice.hold ? "; behind the module, each note's reading held through the silence "
                            "after it"
                          : "");
    case PrefilterChoice::Kind::kOff:
      break;
  }
  return "off";
}

bool ParseInt(const std::string& text, long lo, long hi, long* value, std::string* error) {
  double v;
  if (!ParseNumber(text, {}, &v) || v != std::floor(v)) {
    *error = "'" + text + "' is not a whole number";
    return false;
  }
  if (v < lo || v > hi) {
    *error = text + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi);
    return false;
  }
  *value = static_cast<long>(v);
  return true;
}

bool ParseChannel(const std::string& text, int* channel, std::string* error) {
  long v;
  if (!ParseInt(text, 0, 1023, &v, error)) return false;
  *channel = static_cast<int>(v);
  return true;
}

bool ParseBlockSize(const std::string& text, int32_t* samples, std::string* error) {
  long v;
  if (!ParseInt(text, 1, kMaxBlockSize, &v, error)) return false;
  *samples = static_cast<int32_t>(v);
  return true;
}

bool ParseGate(const std::string& text, double* db, std::string* error) {
  double value;
  if (!ParseNumber(text, {"dBFS", "dB"}, &value)) {
    *error = "'" + text + "' is not a level in dBFS (a finite number such as -60 or -60dB)";
    return false;
  }
  if (value > 0 || value < -200) {
    *error = Format(value) + " dBFS is out of range -200..0";
    return false;
  }
  *db = value;
  return true;
}

bool ParseCutoff(const std::string& text, float* hz, std::string* error) {
  double v;
  if (!ParseNumber(text, {"Hz"}, &v)) {
    *error = "'" + text + "' is not a number (a finite decimal in Hz, such as 40 or 40Hz)";
    return false;
  }
  // The range the module announces for its cutoff pin.
  if (v < kCutoffMinHz || v > kCutoffMaxHz) {
    std::ostringstream range;
    range << Format(v) << " Hz is out of range " << kCutoffMinHz << ".." << kCutoffMaxHz;
    *error = range.str();
    return false;
  }
  *hz = static_cast<float>(v);
  return true;
}

bool ParseOctave(const std::string& text, int* octave, std::string* error) {
  long v;
  if (!ParseInt(text, kOctaveMin, kOctaveMax, &v, error)) return false;
  *octave = static_cast<int>(v);
  return true;
}

bool ParseScale(const std::string& text, Scale* scale, std::string* error) {
  for (Scale s : {Scale::kVoltPerKhz, Scale::kVoltPerOctave}) {
    if (Lower(text) == ScaleOption(s)) {
      *scale = s;
      return true;
    }
  }
  *error = "'" + text + "' is not " + ScaleOption(Scale::kVoltPerKhz) + " or " +
           ScaleOption(Scale::kVoltPerOctave);
  return false;
}

bool ParseOrder(const std::string& text, int* order, std::string* error) {
  long v;
  if (!ParseInt(text, OrderPolesOfIndex(kOrderOnePole), OrderPolesOfIndex(kOrderTwoPoles), &v,
                error))
    return false;
  *order = static_cast<int>(v);
  return true;
}

std::string ScaleOption(Scale scale) { return scale == Scale::kVoltPerOctave ? "oct" : "khz"; }

bool ParseEventTime(const std::string& text, double sample_rate, double* sample,
                    std::string* error) {
  double time;
  bool seconds = false;
  if (!ParseNumber(text, {"s"}, &time, &seconds)) {
    *error = "time '" + text + "' is not a sample number, or seconds with 's'";
    return false;
  }
  if (!seconds && time != std::floor(time)) {
    *error = "time '" + text + "' is not a sample number (add 's' for seconds)";
    return false;
  }
  if (time < 0) {
    *error = "time '" + text + "' is before the start";
    return false;
  }
  double at = seconds ? std::floor(time * sample_rate + 0.5) : time;
  if (at > 4294967295.0) {
    *error = "time is beyond the 32-bit sample clock";
    return false;
  }
  *sample = at;
  return true;
}

bool ParseCsvStep(const std::string& text, double rate, double* step, std::string* error) {
  if (text.empty()) {
    *step = 1;
    return true;
  }
  double value;
  bool seconds = false;
  if (!ParseNumber(text, {"s"}, &value, &seconds) || (!seconds && value != std::floor(value))) {
    *error = "'" + text + "' is not a number of samples, or of seconds with 's' (0.01s)";
    return false;
  }
  *step = seconds ? value * rate : value;
  if (!(*step >= 1.0)) {
    *error = text + " is less than one sample at " + std::to_string(static_cast<int>(rate)) + " Hz";
    return false;
  }
  return true;
}

std::string NoteOption(double hz) {
  std::string name = NoteName(hz);
  if (name != "-") return name;
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", hz);
  return text;
}

std::string PrefilterOption(const PrefilterChoice& choice) {
  switch (choice.kind) {
    case PrefilterChoice::Kind::kNote:
      return "note:" + NoteOption(choice.hz);
    case PrefilterChoice::Kind::kRange:
      return "range:" + NoteOption(choice.hz);
    case PrefilterChoice::Kind::kFollow:
      return "follow";
    case PrefilterChoice::Kind::kLive:
      return choice.hold ? "live:hold" : "live";
    case PrefilterChoice::Kind::kOff:
    case PrefilterChoice::Kind::kBand:
      break;
  }
  return "off";
}

}  // namespace tonevolt
