// The tool's view of the module's four settings, and their encoding as pin
// values. Their text forms, as options and events files give them, are in
// options/Values.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TonevoltPins.h"

namespace tonevolt {

// The largest host block the tool offers.
constexpr int32_t kMaxBlockSize = 65536;

enum class Scale { kVoltPerKhz, kVoltPerOctave };

// The module's defaults; the help names them too.
struct Settings {
  float cutoff = kCutoffDefaultHz;
  int octave = OctaveShiftOfIndex(kOctaveDefaultIndex);  // kOctaveMin..kOctaveMax
  Scale scale = Scale::kVoltPerKhz;
  int order = OrderPolesOfIndex(kOrderDefault);  // poles, 1 or 2
};
static_assert(kScaleDefault == kScaleVoltPerKhz,
              "Settings and the help give the module's default scale");

// One setting change, as the module receives it: a pin value at a sample.
struct Change {
  uint32_t sample;
  int32_t pin;
  int32_t value;  // list index, or a float's bit pattern for the cutoff
};

// The octave and the order take TonevoltPins.h's OctaveIndexOfShift and
// OrderIndexOfPoles.
int32_t EncodeCutoff(float hz);
int32_t EncodeScale(Scale scale);
// The changes that bring a fresh instance to these settings at sample 0.
std::vector<Change> InitialChanges(const Settings& settings);
// Applies one change to a settings copy (the tool follows what the module holds).
void ApplyChange(const Change& change, Settings* settings);

std::string ScaleName(Scale scale);  // "1 V/kHz" or "1 V/oct"
std::string SettingsText(const Settings& settings);

}  // namespace tonevolt
