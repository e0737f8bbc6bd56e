// The VST3 plug-ins of the built Tonevolt.vst3, run as a host runs them,
// for the benchmarks: the least a host does, and no checks of the plug-in.
#pragma once

#include <cstdint>

#include "BenchSettings.h"
#include "travesty/audio_processor.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"

// Once, before any Vst3BenchHost: the bundle's binary.
bool LoadVst3Plugins(const char* path);

// One plug-in, set up and activated at the benchmarks' rate, then given the
// settings, normalized by its controller, in a process call without samples.
// Process() is one process call of a block, with no parameter changes.
class Vst3BenchHost {
 public:
  Vst3BenchHost(bool tracker, const BenchSettings& settings);
  ~Vst3BenchHost();
  Vst3BenchHost(const Vst3BenchHost&) = delete;
  Vst3BenchHost& operator=(const Vst3BenchHost&) = delete;

  bool Ready() const { return m_ready; }
  // The tracker's gate, null for the plain plug-in.
  void Process(const float* in, float* pitch, float* gate);

 private:
  v3_component** m_component = nullptr;
  v3_audio_processor** m_processor = nullptr;
  v3_edit_controller** m_controller = nullptr;
  bool m_active = false;
  bool m_ready = false;
  int32_t m_outputs;
};
