// What an output value stands for: volts, and the frequency the module read
// from its input. Pure conversions on the contract in TonevoltPins.h, for
// the tool and the tests; the signal path itself never calls them.
#pragma once

#include <cmath>

#include "TonevoltPins.h"

// 1 V/kHz, nominally: a value of 1.0 (10 V) stands for 10 kHz.
constexpr double kHzPerUnit = kVoltsPerUnit * 1000.0;

constexpr double VoltsOfValue(double value) { return kVoltsPerUnit * value; }

// The frequency the module read for a value, before the octave shift is
// undone and at kReferenceRate. 1 V/oct: through its table, 5 V at 440 Hz.
inline double ReadHzOfOctaveValue(double value) {
  return kOctaveReferenceHz * std::exp2(kVoltsPerUnit * value - kOctaveReferenceVolts);
}
constexpr double ReadHzOfKhzValue(double value) { return value * kHzPerUnit; }

// The inverses: the value a read frequency gives.
inline double OctaveValueOfReadHz(double read_hz) {
  return (std::log2(read_hz / kOctaveReferenceHz) + kOctaveReferenceVolts) / kVoltsPerUnit;
}
constexpr double KhzValueOfReadHz(double read_hz) { return read_hz / kHzPerUnit; }

// Between an input frequency at sample_rate and what the module reads: the
// octave shift multiplies by 2^octave, and the gain fixed for kReferenceRate
// scales by kReferenceRate / sample_rate.
inline double InputHzOfReadHz(double read_hz, int octave, double sample_rate) {
  return read_hz * (sample_rate / kReferenceRate) / std::exp2(octave);
}
inline double ReadHzOfInputHz(double input_hz, int octave, double sample_rate) {
  return input_hz * std::exp2(octave) * (kReferenceRate / sample_rate);
}
