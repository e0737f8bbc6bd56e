// Tonevolt's published contract, shared by the module, the tools and the
// tests: pin numbers, the settings' ranges, defaults and list entries, and
// what an output value means. Hosts save patches by pin number, so never
// renumber. Every surface is made from these: the module's description
// (module/Module.cpp, at compile time), the LV2 bundle's tonevolt.ttl
// (written by lv2/TtlWriter.cpp at build time) and the tool's help.
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
constexpr int32_t kModulePinCount = 6;

// "Filter Cutoff": the range the host offers; the module itself limits nothing.
constexpr float kCutoffMinHz = 10.0f;
constexpr float kCutoffMaxHz = 5000.0f;
constexpr float kCutoffDefaultHz = 40.0f;

// "Octave": a list of shifts from kOctaveMin up; the default is no shift.
constexpr int32_t kOctaveMin = -3;
constexpr int32_t kOctaveMax = 3;
constexpr int32_t OctaveIndexOfShift(int32_t shift) { return shift - kOctaveMin; }
constexpr int32_t OctaveShiftOfIndex(int32_t index) { return index + kOctaveMin; }
constexpr int32_t kOctaveIndexNoShift = OctaveIndexOfShift(0);
constexpr int32_t kOctaveDefaultIndex = kOctaveIndexNoShift;
constexpr const char* kOctaveLabels[] = {"-3", "-2", "-1", "0", "+1", "+2", "+3"};
static_assert(sizeof kOctaveLabels / sizeof kOctaveLabels[0] == kOctaveMax - kOctaveMin + 1,
              "one Octave label for each shift from kOctaveMin to kOctaveMax");

// "Freq Scale" and "Filter Order" list indices and entries.
constexpr int32_t kScaleVoltPerKhz = 0;
constexpr int32_t kScaleVoltPerOctave = 1;
constexpr int32_t kScaleDefault = kScaleVoltPerKhz;
constexpr const char* kScaleLabels[] = {"1 Volt/kHz", "1 Volt/Octave"};
constexpr int32_t kOrderOnePole = 0;
constexpr int32_t kOrderTwoPoles = 1;
constexpr int32_t kOrderDefault = kOrderOnePole;
constexpr const char* kOrderLabels[] = {"1-Pole", "2-Pole"};
// Where "Filter Order" is shown as a number, it counts poles: index + 1.
constexpr int32_t OrderIndexOfPoles(int32_t poles) { return poles - 1; }
constexpr int32_t OrderPolesOfIndex(int32_t index) { return index + 1; }

// Output values: 1.0 stands for 10 V.
constexpr double kVoltsPerUnit = 10.0;
// The gain is fixed for this rate; at any other the 1 V/kHz value is scaled
// by kReferenceRate / rate.
constexpr double kReferenceRate = 44100.0;
// 1 V/kHz calibration: pulse 1.0022 x gain 2.2 x 2 crossings per period /
// 44100 Hz, in volts per kHz (0.99993).
constexpr double kVoltsPerKhz = 1.0022 * 2.2 * 2.0 / kReferenceRate * 1000.0 * kVoltsPerUnit;
// 1 V/oct: 5 V at 440 Hz, one volt per octave; -9 V when there is no pitch.
constexpr double kOctaveReferenceHz = 440.0;
constexpr double kOctaveReferenceVolts = 5.0;
constexpr double kNoPitchVolts = -9.0;
