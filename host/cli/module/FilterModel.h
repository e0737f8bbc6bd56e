// How the module's low-pass behaves, as measured on it: the ripple it
// leaves on a held note, how long it takes to settle on a new one, and how
// late its output follows the input. Advice predicts with it, the report
// decides with it where a note's reading starts; one model for both.
#pragma once

#include "module/Settings.h"

namespace tonevolt {

// Two poles at `cutoff` on a tone of hz: about 2300 (cutoff / hz)^2 cents
// peak to peak.
double RippleCents(double cutoff, double hz);
// Until the output stays within about 10 cents of a new note: 1.2 / cutoff
// seconds with two poles, 0.8 / cutoff with one.
double SettleSeconds(const Settings& settings);
// The same with two poles, as advice suggests them.
double TwoPoleSettleSeconds(double cutoff);
// How late the output follows the input at low frequencies: 1 / (2 pi
// cutoff) per pole.
double DelaySeconds(const Settings& settings);
// How far 1 V/oct reads flat: the table takes the logarithm of a value
// that ripples (as a sine, this far peak to peak), whose mean lies below
// the logarithm of its mean.
double OctaveBiasCents(double ripple_cents);

}  // namespace tonevolt
