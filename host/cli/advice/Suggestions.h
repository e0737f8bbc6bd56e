// What `advise` recommends, from the module's filter model
// (module/FilterModel.h): with two poles a cutoff of the lowest note / 16
// keeps the ripple near 9 cents; harmonics that add zero crossings need a
// pre-filter.
#pragma once

#include <string>

#include "PitchTable.h"
#include "conditioning/Prefilter.h"
#include "module/FilterModel.h"
#include "module/Settings.h"

namespace tonevolt {

constexpr double kCutoffPerLowestNote = 1.0 / 16;
// A reading this close to the played note counts as right.
constexpr double kRightWithinCents = 25;

// The lowest note / 16, rounded down to two figures, and raised or lowered
// into the range the module offers (kCutoffMinHz..kCutoffMaxHz).
float SuggestedCutoff(double lowest_hz);
// How SuggestedCutoff got there, such as "95.0 / 16 = 5.94 Hz, raised to
// the least the module offers, 10 Hz".
std::string CutoffReason(double lowest_hz);

// The render options that give these settings and this pre-filter, each
// left out where it is the default.
std::string SuggestedOptions(const Settings& settings, const PrefilterChoice& prefilter);

// The scale to suggest: 1 V/oct unless its bias at the lowest note would
// pass this many cents, or the highest note (at the top of its ripple) lies
// past the end of the module's 1 V/oct table.
constexpr double kOctaveBiasLimitCents = 5;
constexpr double kOctaveTableTopHz = kPitchTableSize - 1;
Scale SuggestedScale(double cutoff, double lowest_hz, double highest_hz);
// Why, in a few words: "1 V/oct reads -0.5 cents at E1 from the ripple" or
// "1 V/oct's table ends at 11999 Hz, below A9".
std::string ScaleReason(double cutoff, double lowest_hz, double highest_hz);

}  // namespace tonevolt
