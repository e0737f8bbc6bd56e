// The CLAP plug-ins of the built Tonevolt.clap, run as a host runs them, for
// the benchmarks: the least a host does, and no checks of the plug-in.
#pragma once

#include <clap/plugin.h>

#include <cstdint>

#include "BenchSettings.h"

// Once, before any ClapBenchHost.
bool LoadClapPlugins(const char* path);

// One plug-in, given the settings in a params flush and activated at the
// benchmarks' rate. Process() is one process call of a block, with no events.
class ClapBenchHost {
 public:
  ClapBenchHost(bool tracker, const BenchSettings& settings);
  ~ClapBenchHost();
  ClapBenchHost(const ClapBenchHost&) = delete;
  ClapBenchHost& operator=(const ClapBenchHost&) = delete;

  bool Ready() const { return m_processing; }
  // The tracker's gate, null for the plain plug-in.
  void Process(const float* in, float* pitch, float* gate);

 private:
  const clap_plugin_t* m_plugin = nullptr;
  bool m_active = false;
  bool m_processing = false;
  uint32_t m_outputs;
  int64_t m_steady_time = 0;
};
