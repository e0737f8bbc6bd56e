// The LV2 plug-ins' identity and ports, shared by the adapter and the
// writer of the bundle's manifest and description (TtlWriter.cpp). Hosts
// save sessions by URI and port symbol and may refer to ports by index:
// never change one.
#pragma once

#include <cstdint>

#include "plugin/Controls.h"

constexpr char kCvUri[] = "https://tonevolt.invalid/lv2/tonevolt-cv";
constexpr char kAudioUri[] = "https://tonevolt.invalid/lv2/tonevolt-audio";
// The same module behind the live tracker's conditioning and gate.
constexpr char kTrackerCvUri[] = "https://tonevolt.invalid/lv2/tonevolt-tracker-cv";
constexpr char kTrackerAudioUri[] = "https://tonevolt.invalid/lv2/tonevolt-tracker-audio";

// Ports 0 to 5 are every plug-in's; the tracker plug-ins add 6 to 11.
enum PortIndex : uint32_t {
  kPortInput = 0,
  kPortPitch = 1,
  kPortCutoff = 2,
  kPortOctave = 3,  // the shift, not the module's list index (TonevoltPins.h maps them)
  kPortScale = 4,
  kPortOrder = 5,  // poles, not the module's list index
  kPortLowest = 6,
  kPortGate = 7,
  kPortThreshold = 8,
  kPortHold = 9,
  kPortLatency = 10,
  kPortPosition = 11,  // atom input: the host's time:Position
};
constexpr uint32_t kPlainPortCount = 6;
constexpr uint32_t kTrackerPortCount = 12;
