// The plug-ins' settings, one table for every format: CLAP and VST3 name
// them by the ids below, which hosts store in saved sessions and automation
// (never renumber; a new setting takes the next id), and the LV2 bundle's
// ports take the same values. Values are as a user sees them: the cutoff
// in Hz, the octave as a shift, the order in poles, the tracker's lowest
// note in Hz and its threshold in dB. Ranges and defaults come from the
// module's contract (TonevoltPins.h) and the live tracker's options.
#pragma once

#include <cstdint>

#include "TonevoltPins.h"
#include "conditioning/LiveTracker.h"

// The tracker's controls. Its defaults are the tracker's own; `lowest` 0
// turns it off, and values between 0 and LiveTracker::kLowestHz act as that.
constexpr float kLowestOffHz = 0.0f;
constexpr float kLowestMaxHz = 1000.0f;
constexpr float kLowestDefaultHz = static_cast<float>(tonevolt::LiveOptions{}.lowest_hz);
constexpr float kThresholdMinDb = -120.0f;
constexpr float kThresholdMaxDb = 0.0f;
constexpr float kThresholdDefaultDb = static_cast<float>(tonevolt::LiveOptions{}.threshold_db);
constexpr int32_t kHoldDefault = 1;
// The tracker's cutoff by default: two poles' worth of smoothing for its
// lowest note, lowest / 16 raised to the module's least (what the tool's
// advice gives a line from E1). At the plain plug-ins' 40 Hz a bass note's
// ripple would span a semitone.
constexpr float kTrackerCutoffDefaultHz =
    kLowestDefaultHz / 16 > kCutoffMinHz ? kLowestDefaultHz / 16 : kCutoffMinHz;
// Two poles, as the advice for a line gives with that cutoff: at one pole
// an A2's ripple spans ±250 cents, at two ±12.
constexpr int32_t kTrackerOrderDefault = kOrderTwoPoles;

namespace tonevolt {

// Stable ids. The plain plug-ins have the first four, the trackers all.
enum ControlId : uint32_t {
  kControlCutoff = 0,
  kControlOctave = 1,
  kControlScale = 2,
  kControlOrder = 3,
  kControlLowest = 4,
  kControlThreshold = 5,
  kControlHold = 6,
};
constexpr uint32_t kPlainControlCount = 4;
constexpr uint32_t kTrackerControlCount = 7;

constexpr const char* kHoldLabels[] = {"Off", "On"};

struct ControlInfo {
  ControlId id;
  const char* key;   // short name: state, automation lanes' ids in text
  const char* name;  // what a host shows
  const char* unit;  // "" for none
  float min, max;
  float plain_default, tracker_default;
  // Whole steps from min to max, each named by labels[value - min]; a
  // continuous control has no labels.
  const char* const* labels;
  // A knob or lane over the range moves in equal ratios, not equal steps.
  bool logarithmic = false;

  bool Stepped() const { return labels != nullptr; }
  float Default(bool tracker) const { return tracker ? tracker_default : plain_default; }
};

constexpr ControlInfo kControls[kTrackerControlCount] = {
    {kControlCutoff, "cutoff", "Filter Cutoff", "Hz", kCutoffMinHz, kCutoffMaxHz, kCutoffDefaultHz,
     kTrackerCutoffDefaultHz, nullptr, true},
    {kControlOctave, "octave", "Octave", "", kOctaveMin, kOctaveMax,
     OctaveShiftOfIndex(kOctaveDefaultIndex), OctaveShiftOfIndex(kOctaveDefaultIndex),
     kOctaveLabels},
    {kControlScale, "scale", "Freq Scale", "", kScaleVoltPerKhz, kScaleVoltPerOctave, kScaleDefault,
     kScaleDefault, kScaleLabels},
    {kControlOrder, "order", "Filter Order", "", OrderPolesOfIndex(kOrderOnePole),
     OrderPolesOfIndex(kOrderTwoPoles), OrderPolesOfIndex(kOrderDefault),
     OrderPolesOfIndex(kTrackerOrderDefault), kOrderLabels},
    {kControlLowest, "lowest", "Lowest Note", "Hz", kLowestOffHz, kLowestMaxHz, kLowestDefaultHz,
     kLowestDefaultHz, nullptr},
    {kControlThreshold, "threshold", "Gate Threshold", "dB", kThresholdMinDb, kThresholdMaxDb,
     kThresholdDefaultDb, kThresholdDefaultDb, nullptr},
    {kControlHold, "hold", "Hold", "", 0, 1, kHoldDefault, kHoldDefault, kHoldLabels},
};
static_assert(kControls[kControlHold].id == kControlHold, "kControls is in id order");

constexpr uint32_t ControlCount(bool tracker) {
  return tracker ? kTrackerControlCount : kPlainControlCount;
}

}  // namespace tonevolt
