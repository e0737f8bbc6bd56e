// Reading the module's output: the frequency a value implies, note names,
// and the settled mean, ripple and settling time of a held note.
#pragma once

#include <cstddef>
#include <string>

#include "module/Settings.h"

namespace tonevolt {

// The module's gain is fixed for kReferenceRate (TonevoltPins.h): at other
// rates its 1 V/kHz value is scaled by kReferenceRate / rate.

// The input frequency an output value (1.0 = 10 V) stands for under these
// settings at this rate; 0 when the value implies no frequency.
double ImpliedHz(double value, const Settings& settings, double sample_rate);
// The output value an input frequency nominally gives (the inverse).
double NominalValue(double hz, const Settings& settings, double sample_rate);

// 1200 * log2(hz / reference).
double Cents(double hz, double reference);
// Nearest note to hz, such as "A4" or "C#5", and how far off, in cents.
std::string NoteName(double hz, double* cents = nullptr);
// What the module can read of a note heard at heard_hz whose fundamental is
// missing, its lowest partial that harmonic: "A2's fundamental is missing:
// ...". The module counts the partials there are.
std::string MissingFundamentalText(double heard_hz, int lowest_partial);
// Cents rounded, with their sign, then unit: "+5 c", "-12"; rounded before
// the sign is chosen, so never "-0". "-" for none (NaN).
std::string SignedCents(double cents, const char* unit = "");

struct Settled {
  double mean = 0;            // settled mean value
  double ripple = 0;          // peak-to-peak value over the settled part
  size_t settle_samples = 0;  // from the start until it stays within the settled band
};

// Analyses one held note's output. The second half counts as settled; its
// mean is taken over whole ripple periods where the ripple shows them. The
// settled band is the ripple's range widened by 1 % in implied frequency.
Settled AnalyseNote(const float* values, size_t count, const Settings& settings);

}  // namespace tonevolt
