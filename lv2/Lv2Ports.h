// The LV2 plug-ins' identity and ports, shared by the adapter and the
// writer of their description (TtlWriter.cpp). Hosts save sessions by URI
// and port symbol and may refer to ports by index: never change one.
#pragma once

#include <cstdint>

#include "TonevoltPins.h"

constexpr char kCvUri[] = "https://tonevolt.invalid/lv2/tonevolt-cv";
constexpr char kAudioUri[] = "https://tonevolt.invalid/lv2/tonevolt-audio";

enum PortIndex : uint32_t {
  kPortInput = 0,
  kPortPitch = 1,
  kPortCutoff = 2,
  kPortOctave = 3,
  kPortScale = 4,
  kPortOrder = 5,
};

// The ports' values against the module's list indices: the octave port
// takes the shift (index + kOctaveMin), the order port counts poles.
constexpr int32_t kOrderPortPolesOfIndex0 = 1;
constexpr int32_t OctavePortValue(int32_t index) { return index + kOctaveMin; }
constexpr int32_t OrderPortValue(int32_t index) { return index + kOrderPortPolesOfIndex0; }
