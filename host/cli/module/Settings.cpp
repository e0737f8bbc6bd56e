#include "module/Settings.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <sstream>

#include "conditioning/Number.h"

namespace tonevolt {

namespace {

std::string Trim(const std::string& s) {
  size_t begin = 0, end = s.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(s[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1]))) --end;
  return s.substr(begin, end - begin);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A value as read, for a message: "9000", "5000.5", "1e+12".
std::string Format(double value) {
  std::ostringstream text;
  text.precision(10);
  text << value;
  return text.str();
}

}  // namespace

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

int32_t EncodeCutoff(float hz) {
  int32_t bits;
  std::memcpy(&bits, &hz, sizeof bits);
  return bits;
}
int32_t EncodeScale(Scale scale) {
  return scale == Scale::kVoltPerOctave ? kScaleVoltPerOctave : kScaleVoltPerKhz;
}

bool ParsePinValue(int32_t pin, const std::string& text, int32_t* value, std::string* error) {
  switch (pin) {
    case PIN_FILTER_CUTOFF: {
      float hz;
      if (!ParseCutoff(text, &hz, error)) return false;
      *value = EncodeCutoff(hz);
      return true;
    }
    case PIN_OCTAVE: {
      int octave;
      if (!ParseOctave(text, &octave, error)) return false;
      *value = OctaveIndexOfShift(octave);
      return true;
    }
    case PIN_FREQ_SCALE: {
      Scale scale;
      if (!ParseScale(text, &scale, error)) return false;
      *value = EncodeScale(scale);
      return true;
    }
    case PIN_FILTER_ORDER: {
      int order;
      if (!ParseOrder(text, &order, error)) return false;
      *value = OrderIndexOfPoles(order);
      return true;
    }
    default:
      *error = "not a setting";
      return false;
  }
}

std::vector<Change> InitialChanges(const Settings& s) {
  return {{0, PIN_FILTER_CUTOFF, EncodeCutoff(s.cutoff)},
          {0, PIN_OCTAVE, OctaveIndexOfShift(s.octave)},
          {0, PIN_FREQ_SCALE, EncodeScale(s.scale)},
          {0, PIN_FILTER_ORDER, OrderIndexOfPoles(s.order)}};
}

void ApplyChange(const Change& change, Settings* s) {
  switch (change.pin) {
    case PIN_FILTER_CUTOFF:
      std::memcpy(&s->cutoff, &change.value, sizeof s->cutoff);
      break;
    case PIN_OCTAVE:
      s->octave = OctaveShiftOfIndex(change.value);
      break;
    case PIN_FREQ_SCALE:
      s->scale = change.value == kScaleVoltPerOctave ? Scale::kVoltPerOctave : Scale::kVoltPerKhz;
      break;
    case PIN_FILTER_ORDER:
      s->order = OrderPolesOfIndex(change.value);
      break;
    default:
      break;
  }
}

std::string ScaleName(Scale scale) {
  return scale == Scale::kVoltPerOctave ? "1 V/oct" : "1 V/kHz";
}

std::string ScaleOption(Scale scale) { return scale == Scale::kVoltPerOctave ? "oct" : "khz"; }

std::string Describe(const Settings& s) {
  std::ostringstream out;
  out << "cutoff " << s.cutoff << " Hz, octave " << (s.octave > 0 ? "+" : "") << s.octave << ", "
      << ScaleName(s.scale) << ", " << s.order << "-pole";
  return out.str();
}

bool ParseEvents(const std::string& text, const std::vector<std::string>& pin_names,
                 double sample_rate, std::vector<Change>* changes, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string body = Trim(line);
    if (body.empty() || body[0] == '#') continue;
    auto fail = [&](const std::string& why) {
      *error = "line " + std::to_string(number) + ": " + why + ": \"" + body + "\"";
      return false;
    };
    size_t time_end = body.find_first_of(" \t");
    size_t value_begin = body.find_last_of(" \t");
    if (time_end == std::string::npos) return fail("expected TIME PIN VALUE");
    std::string time_text = body.substr(0, time_end);
    std::string value_text = body.substr(value_begin + 1);
    std::string name = Lower(Trim(body.substr(time_end, value_begin + 1 - time_end)));
    if (name.empty()) return fail("expected TIME PIN VALUE");

    double time;
    bool seconds = false;
    if (!ParseNumber(time_text, {"s"}, &time, &seconds))
      return fail("time '" + time_text + "' is not a sample number, or seconds with 's'");
    if (!seconds && time != std::floor(time))
      return fail("time '" + time_text + "' is not a sample number (add 's' for seconds)");
    if (time < 0) return fail("time '" + time_text + "' is before the start");
    double sample = seconds ? std::floor(time * sample_rate + 0.5) : time;
    if (sample > 4294967295.0) return fail("time is beyond the 32-bit sample clock");

    int32_t pin = -1;
    for (size_t i = 0; i < pin_names.size(); ++i)
      if (Lower(Trim(pin_names[i])) == name) pin = static_cast<int32_t>(i);
    if (pin < 0) return fail("no pin named '" + name + "'");
    if (pin != PIN_FILTER_CUTOFF && pin != PIN_OCTAVE && pin != PIN_FREQ_SCALE &&
        pin != PIN_FILTER_ORDER)
      return fail("pin '" + Trim(pin_names[pin]) + "' is not a setting");
    int32_t value;
    std::string why;
    if (!ParsePinValue(pin, value_text, &value, &why)) return fail(why);
    changes->push_back({static_cast<uint32_t>(sample), pin, value});
  }
  return true;
}

}  // namespace tonevolt
