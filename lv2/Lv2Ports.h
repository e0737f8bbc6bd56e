// The LV2 plug-ins' identity and ports, shared by the adapter and the
// writer of the bundle's manifest and description (TtlWriter.cpp). Hosts
// save sessions by URI and port symbol and may refer to ports by index:
// never change one.
#pragma once

#include <cstdint>

#include "TonevoltPins.h"
#include "conditioning/LiveTracker.h"

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

// The tracker's controls. Its defaults are the tracker's own; `lowest` 0
// turns it off, and values between 0 and LiveTracker::kLowestHz act as that.
constexpr float kLowestOffHz = 0.0f;
constexpr float kLowestMaxHz = 1000.0f;
constexpr float kLowestDefaultHz = static_cast<float>(tonevolt::LiveOptions{}.lowest_hz);
constexpr float kThresholdMinDb = -120.0f;
constexpr float kThresholdMaxDb = 0.0f;
constexpr float kThresholdDefaultDb = static_cast<float>(tonevolt::LiveOptions{}.threshold_db);
constexpr int32_t kHoldDefault = 1;
// The tracker's cutoff by default: two poles' worth of smoothing for its
// lowest note, lowest / 16 raised to the module's least (what the tool's
// advice gives a line from E1). At the plain plug-ins' 40 Hz a bass note's
// ripple would span a semitone.
constexpr float kTrackerCutoffDefaultHz =
    kLowestDefaultHz / 16 > kCutoffMinHz ? kLowestDefaultHz / 16 : kCutoffMinHz;
// Two poles, as the advice for a line gives with that cutoff: at one pole
// an A2's ripple spans ±250 cents, at two ±12.
constexpr int32_t kTrackerOrderDefault = kOrderTwoPoles;
