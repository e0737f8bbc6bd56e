// Runs a signal through a module instance as a host does: rate and block
// size by dispatcher before open, settings as pin events at their sample,
// the input reported streaming, the signal in host-sized blocks.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "WBHost.h"
#include "module/Settings.h"

namespace tonevolt {

struct RunRequest {
  double sample_rate = kReferenceRate;
  int32_t block_size = 1024;
  Settings settings;            // in force from sample 0
  std::vector<Change> changes;  // later changes, any order; equal times keep their order
};

// One instance fed a stream piece by piece. Each piece goes in host blocks
// of the block size, the last one shorter if the piece is not a multiple:
// pieces that are multiples give the blocks one whole signal would.
class ModuleRunner {
 public:
  // Creates and opens the instance and queues every setting change; false
  // with a reason if main answers no instance.
  bool Start(WBMainProc main, const RunRequest& request, std::string* error);
  // The next count samples of the stream.
  void Process(const float* input, float* output, size_t count);

 private:
  wbhost::Instance m_instance;
  std::vector<float> m_in, m_out;  // the host's buffers, one block each
  uint64_t m_done = 0;
};

// A whole signal through a fresh instance.
bool RunModule(WBMainProc main, const std::vector<float>& input, const RunRequest& request,
               std::vector<float>* output, std::string* error);

// The names of the module's pins, by index, as it describes them.
bool PinNames(WBMainProc main, std::vector<std::string>* names, std::string* error);

// The settings in force at each change, in the order the module applies
// them: (sample, settings from that sample on), starting at sample 0.
using SettingsTimelineList = std::vector<std::pair<uint32_t, Settings>>;
SettingsTimelineList SettingsTimeline(const RunRequest& request);

// The settings in force at a sample, for samples asked in rising order: the
// one lookup every reader of a stream's output uses.
class SettingsCursor {
 public:
  explicit SettingsCursor(SettingsTimelineList timeline) : m_timeline(std::move(timeline)) {}
  // In force at sample n, no earlier than any asked before.
  const Settings& At(uint64_t n) {
    while (m_at + 1 < m_timeline.size() && m_timeline[m_at + 1].first <= n) ++m_at;
    return m_timeline[m_at].second;
  }
  // The sample where the settings after those last found start; UINT64_MAX
  // for none.
  uint64_t NextChange() const {
    return m_at + 1 < m_timeline.size() ? m_timeline[m_at + 1].first : UINT64_MAX;
  }
  // In force from the last change on.
  const Settings& Last() const { return m_timeline.back().second; }

 private:
  SettingsTimelineList m_timeline;
  size_t m_at = 0;  // the entry last found
};

}  // namespace tonevolt
