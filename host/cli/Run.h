// Runs a signal through a module instance as a host does: rate and block
// size by dispatcher before open, settings as pin events at their sample,
// the input reported streaming, the signal in host-sized blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Settings.h"
#include "WBInterface.h"

namespace tonevolt {

struct RunRequest {
  double sample_rate = kReferenceRate;
  int32_t block_size = 1024;
  Settings settings;            // in force from sample 0
  std::vector<Change> changes;  // later changes, any order; equal times keep their order
};

// Called now and then with samples done and samples in all.
using Progress = std::function<void(size_t done, size_t total)>;

// Processes input through a fresh instance made by main; false with a reason
// if main answers no instance.
bool RunModule(WBMainProc main, const std::vector<float>& input, const RunRequest& request,
               std::vector<float>* output, std::string* error, const Progress& progress = {});

// The names of the module's pins, by index, as it describes them.
bool PinNames(WBMainProc main, std::vector<std::string>* names, std::string* error);

// The settings in force at each change, in the order the module applies
// them: (sample, settings from that sample on), starting at sample 0.
std::vector<std::pair<uint32_t, Settings>> SettingsTimeline(const RunRequest& request);

}  // namespace tonevolt
