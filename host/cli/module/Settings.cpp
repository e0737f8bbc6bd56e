#include "module/Settings.h"

#include <cstring>
#include <sstream>

namespace tonevolt {

int32_t EncodeCutoff(float hz) {
  int32_t bits;
  std::memcpy(&bits, &hz, sizeof bits);
  return bits;
}
int32_t EncodeScale(Scale scale) {
  return scale == Scale::kVoltPerOctave ? kScaleVoltPerOctave : kScaleVoltPerKhz;
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

std::string SettingsText(const Settings& s) {
  std::ostringstream out;
  out << "cutoff " << s.cutoff << " Hz, octave " << (s.octave > 0 ? "+" : "") << s.octave << ", "
      << ScaleName(s.scale) << ", " << s.order << "-pole";
  return out.str();
}

}  // namespace tonevolt
