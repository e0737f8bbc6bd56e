// The settings every plug-in format's benchmark gives its mode, by control
// id, each through the format's own mechanism: cutoff 40 Hz, no octave
// shift, the mode's poles and scale (BenchModes). The tracker's other
// settings stay at their defaults.
#pragma once

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>

#include "plugin/Controls.h"

struct BenchSetting {
  tonevolt::ControlId id;
  float value;
};
constexpr size_t kBenchSettingCount = 4;
using BenchSettings = std::array<BenchSetting, kBenchSettingCount>;

inline BenchSettings BenchSettingsOf(const benchmark::State& state) {
  return {{{tonevolt::kControlCutoff, 40.0f},
           {tonevolt::kControlOctave, 0.0f},
           {tonevolt::kControlScale, static_cast<float>(state.range(1))},
           {tonevolt::kControlOrder, static_cast<float>(state.range(0))}}};
}
