#include "module/Run.h"

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

SettingsTimelineList SettingsTimeline(const RunRequest& request) {
  SettingsTimelineList timeline{{0, request.settings}};
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

bool ModuleRunner::Start(WBMainProc main, const RunRequest& request, std::string* error) {
  if (!m_instance.Create(main)) {
    *error = "the module's main answered no instance";
    return false;
  }
  wbhost::HostState& host = m_instance.Host();
  host.record_calls = false;  // a long stream would keep every sleep request
  host.sample_clock = 0;
  host.pin_count = DescribedPinCount(&m_instance);

  m_instance.SetSampleRate(static_cast<float>(request.sample_rate));
  m_instance.SetBlockSize(request.block_size);
  m_instance.Open();

  // The input streams from its first sample on; the settings follow at the
  // same sample, then every later change at its own.
  m_instance.AddPinEvent(0, PIN_INPUT, STATUS_STREAMING, 0);
  for (const Change& change : OrderedChanges(request))
    m_instance.AddPinEvent(change.sample, change.pin, STATUS_ONE_SHOT, change.value);

  m_in.assign(static_cast<size_t>(request.block_size), 0.0f);
  m_out.assign(m_in.size(), 0.0f);
  m_instance.ConnectBuffer(PIN_INPUT, m_in.data());
  m_instance.ConnectBuffer(PIN_PITCH, m_out.data());
  return true;
}

void ModuleRunner::Process(const float* input, float* output, size_t count) {
  const size_t block = m_in.size();
  for (size_t done = 0; done < count;) {
    size_t take = std::min(block, count - done);
    std::copy(input + done, input + done + take, m_in.begin());
    m_instance.Process(0, static_cast<int32_t>(take));
    std::copy(m_out.begin(), m_out.begin() + take, output + done);
    done += take;
    m_done += take;
    m_instance.Host().sample_clock = static_cast<uint32_t>(m_done);
  }
}

bool RunModule(WBMainProc main, const std::vector<float>& input, const RunRequest& request,
               std::vector<float>* output, std::string* error) {
  ModuleRunner runner;
  if (!runner.Start(main, request, error)) return false;
  output->resize(input.size());
  runner.Process(input.data(), output->data(), input.size());
  return true;
}

}  // namespace tonevolt
