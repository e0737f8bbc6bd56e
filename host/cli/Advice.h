// What `advise` recommends and expects, from measured rules of the module:
// with two poles its ripple is about 2300 (cutoff / f)^2 cents peak to peak
// and it settles within 10 cents in about 1.2 / cutoff seconds, so a cutoff
// of the lowest note / 16 keeps the ripple near 9 cents; harmonics that add
// zero crossings need a pre-filter.
#pragma once

#include <string>

#include "Settings.h"
#include "analysis/Prefilter.h"

namespace tonevolt {

constexpr double kCutoffPerLowestNote = 1.0 / 16;
// A reading this close to the played note counts as right.
constexpr double kRightWithinCents = 25;

// Two poles at `cutoff` on a tone of hz.
double ExpectedRippleCents(double cutoff, double hz);
double ExpectedSettleSeconds(double cutoff);
// How far 1 V/oct reads flat: the table takes the logarithm of a value
// that ripples (as a sine, this far peak to peak), whose mean lies below
// the logarithm of its mean.
double ExpectedOctaveBiasCents(double ripple_cents);

// The lowest note / 16, rounded down to two figures, within 10..5000 Hz.
float SuggestedCutoff(double lowest_hz);

// A frequency as --prefilter writes it: the nearest note's name.
std::string NoteOption(double hz);
// "note:A2", "range:E1" or "off".
std::string PrefilterOption(const PrefilterChoice& choice);

// The render options that give these settings and this pre-filter, each
// left out where it is the default.
std::string SuggestedOptions(const Settings& settings, const PrefilterChoice& prefilter);

// The scale to suggest: 1 V/oct unless its bias at the lowest note would
// pass this many cents.
constexpr double kOctaveBiasLimitCents = 5;
Scale SuggestedScale(double cutoff, double lowest_hz);

}  // namespace tonevolt
