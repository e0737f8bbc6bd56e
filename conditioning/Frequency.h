// Notes as frequencies.
#pragma once

namespace tonevolt {

// The equal-tempered frequency of a MIDI note number (69 = A4 = 440 Hz).
double MidiNoteHz(double midi_note);

}  // namespace tonevolt
