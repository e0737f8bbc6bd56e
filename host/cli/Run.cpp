#include "Run.h"

#include <algorithm>
#include <cstring>

#include "WBHost.h"

namespace tonevolt {

namespace {

std::vector<Change> OrderedChanges(const RunRequest& request) {
  std::vector<Change> changes = InitialChanges(request.settings);
  std::vector<Change> later = request.changes;
  std::stable_sort(later.begin(), later.end(),
                   [](const Change& a, const Change& b) { return a.sample < b.sample; });
  changes.insert(changes.end(), later.begin(), later.end());
  return changes;
}

int32_t DescribedPinCount(wbhost::Instance* instance) {
  PinProperties properties;
  int32_t count = 0;
  for (;; ++count) {
    std::memset(&properties, 0, sizeof properties);
    if (!instance->DescribePin(count, &properties)) return count;
  }
}

}  // namespace

bool PinNames(WBMainProc main, std::vector<std::string>* names, std::string* error) {
  wbhost::Instance instance;
  if (!instance.Create(main)) {
    *error = "the module's main answered no instance";
    return false;
  }
  PinProperties properties;
  for (int32_t index = 0;; ++index) {
    std::memset(&properties, 0, sizeof properties);
    if (!instance.DescribePin(index, &properties)) break;
    names->push_back(properties.name != nullptr ? properties.name : "");
  }
  return true;
}

std::vector<std::pair<uint32_t, Settings>> SettingsTimeline(const RunRequest& request) {
  std::vector<std::pair<uint32_t, Settings>> timeline{{0, request.settings}};
  Settings current = request.settings;
  for (const Change& change : OrderedChanges(request)) {
    ApplyChange(change, &current);
    if (timeline.back().first == change.sample)
      timeline.back().second = current;
    else
      timeline.emplace_back(change.sample, current);
  }
  return timeline;
}

bool RunModule(WBMainProc main, const std::vector<float>& input, const RunRequest& request,
               std::vector<float>* output, std::string* error, const Progress& progress) {
  wbhost::Instance instance;
  if (!instance.Create(main)) {
    *error = "the module's main answered no instance";
    return false;
  }
  wbhost::HostState& host = instance.Host();
  host.record_calls = false;  // a long file would keep every sleep request
  host.sample_clock = 0;
  host.pin_count = DescribedPinCount(&instance);

  instance.SetSampleRate(static_cast<float>(request.sample_rate));
  instance.SetBlockSize(request.block_size);
  instance.Open();

  // The input streams from its first sample on; the settings follow at the
  // same sample, then every later change at its own.
  instance.AddPinEvent(0, PIN_INPUT, STATUS_STREAMING, 0);
  for (const Change& change : OrderedChanges(request))
    instance.AddPinEvent(change.sample, change.pin, STATUS_ONE_SHOT, change.value);

  const size_t total = input.size();
  const size_t block = static_cast<size_t>(request.block_size);
  std::vector<float> in_block(block), out_block(block);
  instance.ConnectBuffer(PIN_INPUT, in_block.data());
  instance.ConnectBuffer(PIN_PITCH, out_block.data());
  output->assign(total, 0.0f);
  const size_t report_every = std::max<size_t>(block, total / 200);
  size_t next_report = 0;
  for (size_t done = 0; done < total;) {
    size_t count = std::min(block, total - done);
    std::copy(input.begin() + done, input.begin() + done + count, in_block.begin());
    instance.Process(0, static_cast<int32_t>(count));
    std::copy(out_block.begin(), out_block.begin() + count, output->begin() + done);
    done += count;
    host.sample_clock = static_cast<uint32_t>(done);
    if (progress && (done >= next_report || done == total)) {
      progress(done, total);
      next_report = done + report_every;
    }
  }
  return true;
}

}  // namespace tonevolt
