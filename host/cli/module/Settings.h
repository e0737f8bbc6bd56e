// The tool's view of the module's four settings: parsing them from text as
// options and events files give them, and encoding them as pin values.
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

// Parsers of one value each; on failure they say why in *error.
bool ParseCutoff(const std::string& text, float* hz, std::string* error);
bool ParseOctave(const std::string& text, int* octave, std::string* error);
bool ParseScale(const std::string& text, Scale* scale, std::string* error);
bool ParseOrder(const std::string& text, int* order, std::string* error);
bool ParseInt(const std::string& text, long lo, long hi, long* value, std::string* error);
bool ParseChannel(const std::string& text, int* channel, std::string* error);
bool ParseBlockSize(const std::string& text, int32_t* samples, std::string* error);
// A level in dBFS, -200 to 0 ("-60", "-60dB").
bool ParseGate(const std::string& text, double* db, std::string* error);

// A setting pin's value parsed from option syntax into its pin encoding.
bool ParsePinValue(int32_t pin, const std::string& text, int32_t* value, std::string* error);

// The octave and the order take TonevoltPins.h's OctaveIndexOfShift and
// OrderIndexOfPoles.
int32_t EncodeCutoff(float hz);
int32_t EncodeScale(Scale scale);
// The changes that bring a fresh instance to these settings at sample 0.
std::vector<Change> InitialChanges(const Settings& settings);
// Applies one change to a settings copy (the tool follows what the module holds).
void ApplyChange(const Change& change, Settings* settings);

std::string ScaleName(Scale scale);    // "1 V/kHz" or "1 V/oct"
std::string ScaleOption(Scale scale);  // as --scale takes it: "khz" or "oct"
std::string Describe(const Settings& settings);

// Parses an events file: one change a line, "TIME PIN-NAME VALUE". TIME is a
// whole number of samples or seconds with an "s" suffix. pin_names[i] is the
// module's name of pin i. Blank lines and lines starting with '#' are skipped.
bool ParseEvents(const std::string& text, const std::vector<std::string>& pin_names,
                 double sample_rate, std::vector<Change>* changes, std::string* error);

}  // namespace tonevolt
