// The values the tool's options and events files take, each read from its
// text form with a one-line reason on failure, in the one number syntax
// (Number.h) with the option's own unit.
#pragma once

#include <cstdint>
#include <string>

#include "conditioning/Prefilter.h"
#include "module/Settings.h"

namespace tonevolt {

// The range ParseFrequency accepts, in Hz.
constexpr double kLowestFrequency = 1.0;
constexpr double kHighestFrequency = 20000.0;

// Reads Hz ("220", "27.5", "220Hz") or a note name ("E1", "A4", "C#5", "Bb3",
// "a4"; A4 = 440 Hz, equal temperament, C4 = middle C = MIDI 60). Fails with a
// one-line error for anything else or outside kLowestFrequency..kHighestFrequency.
bool ParseFrequency(const std::string& text, double* hz, std::string* error);

// "LOW-HIGH" in frequencies as above ("E1-A3", "41.2-220", "C-1-C3"), low
// first.
bool ParseFrequencyRange(const std::string& text, double* low, double* high, std::string* error);

// Reads "off", "follow", "live", "live:hold", "range:LO" or "note:F", with
// LO and F in Hz or as note names.
bool ParsePrefilter(const std::string& text, PrefilterChoice* choice, std::string* error);
// The filter a choice designs, as the summary names it: "8-pole elliptic
// low-pass, passband to 572 Hz (0.5 dB ripple), 80 dB stopband".
std::string DescribePrefilter(const PrefilterChoice& choice);
// A frequency as --prefilter writes it: the nearest note's name, or Hz
// below the lowest note there is a name for.
std::string NoteOption(double hz);
// The choice as --prefilter takes it: "note:A2", "range:E1", "live:hold" or "off".
std::string PrefilterOption(const PrefilterChoice& choice);

// A whole number within lo..hi.
bool ParseInt(const std::string& text, long lo, long hi, long* value, std::string* error);
bool ParseChannel(const std::string& text, int* channel, std::string* error);
bool ParseBlockSize(const std::string& text, int32_t* samples, std::string* error);
// A level in dBFS, -200 to 0 ("-60", "-60dB").
bool ParseGate(const std::string& text, double* db, std::string* error);

// The module's settings, within the ranges its pins announce.
bool ParseCutoff(const std::string& text, float* hz, std::string* error);
bool ParseOctave(const std::string& text, int* octave, std::string* error);
bool ParseScale(const std::string& text, Scale* scale, std::string* error);
bool ParseOrder(const std::string& text, int* order, std::string* error);
std::string ScaleOption(Scale scale);  // as --scale takes it: "khz" or "oct"

// A time in an events file: a whole number of samples, or seconds with an
// 's' at sample_rate; the sample it falls on.
bool ParseEventTime(const std::string& text, double sample_rate, double* sample,
                    std::string* error);

// --csv-every as samples between rows at rate: a whole number of samples,
// or seconds with an 's'; empty for every sample.
bool ParseCsvStep(const std::string& text, double rate, double* step, std::string* error);

}  // namespace tonevolt
