// Tonevolt's pin indices, for the module and for hosts and tools built with
// it. Hosts save patches by them, so never renumber.
#pragma once

#include <cstdint>

enum ModulePin : int32_t {
  PIN_INPUT = 0,          // "Input": audio buffer address
  PIN_FILTER_CUTOFF = 1,  // "Filter Cutoff": float, Hz
  PIN_OCTAVE = 2,         // "Octave": list index 0..6 for -3..+3
  PIN_PITCH = 3,          // "  Pitch": output audio buffer address
  PIN_FREQ_SCALE = 4,     // "Freq Scale": 0 = 1 V/kHz, 1 = 1 V/oct
  PIN_FILTER_ORDER = 5,   // "Filter Order": 0 = one pole, 1 = two
};
