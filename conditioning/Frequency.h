// Frequencies as a user types them: Hz or a note name.
#pragma once

#include <string>

namespace tonevolt {

// The range ParseFrequency accepts, in Hz.
constexpr double kLowestFrequency = 1.0;
constexpr double kHighestFrequency = 20000.0;

// Reads Hz ("220", "27.5", "220Hz") or a note name ("E1", "A4", "C#5", "Bb3",
// "a4"; A4 = 440 Hz, equal temperament, C4 = middle C = MIDI 60). Fails with a
// one-line error for anything else or outside kLowestFrequency..kHighestFrequency.
bool ParseFrequency(const std::string& text, double* hz, std::string* error);

// The equal-tempered frequency of a MIDI note number (69 = A4 = 440 Hz).
double MidiNoteHz(double midi_note);

}  // namespace tonevolt
