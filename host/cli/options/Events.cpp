#include "options/Events.h"

#include <cctype>
#include <sstream>

#include "options/Values.h"

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

}  // namespace

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

    double sample;
    std::string why;
    if (!ParseEventTime(time_text, sample_rate, &sample, &why)) return fail(why);

    int32_t pin = -1;
    for (size_t i = 0; i < pin_names.size(); ++i)
      if (Lower(Trim(pin_names[i])) == name) pin = static_cast<int32_t>(i);
    if (pin < 0) return fail("no pin named '" + name + "'");
    if (pin != PIN_FILTER_CUTOFF && pin != PIN_OCTAVE && pin != PIN_FREQ_SCALE &&
        pin != PIN_FILTER_ORDER)
      return fail("pin '" + Trim(pin_names[pin]) + "' is not a setting");
    int32_t value;
    if (!ParsePinValue(pin, value_text, &value, &why)) return fail(why);
    changes->push_back({static_cast<uint32_t>(sample), pin, value});
  }
  return true;
}

}  // namespace tonevolt
