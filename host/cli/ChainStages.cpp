#include "ChainStages.h"

#include <algorithm>
#include <cmath>

#include "TonevoltPins.h"

namespace tonevolt {

std::unique_ptr<ResampleStage> ResampleStage::Create(int in_rate, int out_rate, Edges edges,
                                                     std::string* error) {
  std::unique_ptr<Resampler> resampler = Resampler::Create(in_rate, out_rate, error);
  if (!resampler) return nullptr;
  auto stage = std::make_unique<ResampleStage>();
  stage->m_resampler = std::move(resampler);
  stage->m_edges = edges;
  stage->m_in_rate = in_rate;
  return stage;
}

bool ResampleStage::Process(const std::vector<float>& in, std::vector<float>* out, std::string*) {
  out->clear();
  m_resampler->Process(in.data(), in.size(), out);
  if (!in.empty()) m_last = in.back();
  Squelch(out);
  return true;
}

void ResampleStage::Squelch(std::vector<float>* out) const {
  if (m_edges != Edges::kSquelchNoise) return;
  for (float& x : *out)
    if (std::fabs(x) < kNoiseFloor) x = 0.0f;
}

bool ResampleStage::Flush(std::vector<float>* out, std::string*) {
  out->clear();
  if (m_edges == Edges::kHoldEnd) {
    // 50 ms: longer than libsoxr's filter reaches at any rate.
    std::vector<float> held(static_cast<size_t>(m_in_rate / 20 + 1), m_last);
    m_resampler->Process(held.data(), held.size(), out);
  }
  m_resampler->Flush(out);
  Squelch(out);
  return true;
}

std::unique_ptr<PrefilterStage> PrefilterStage::Create(const PrefilterChoice& choice, double rate,
                                                       std::string* error) {
  std::unique_ptr<Prefilter> filter = Prefilter::Create(choice, rate, error);
  if (!filter) return nullptr;
  auto stage = std::make_unique<PrefilterStage>();
  stage->m_filter = std::move(filter);
  return stage;
}

bool PrefilterStage::Process(const std::vector<float>& in, std::vector<float>* out, std::string*) {
  out->resize(in.size());
  m_filter->Process(in.data(), out->data(), in.size());
  return true;
}

PitchOptions CheckPitchOptions(int rate, int hop_at_reference) {
  PitchOptions options;
  const double scale = rate / kReferenceRate;
  int window = 1024;
  while (window < 65536 && window < 8192 * scale) window *= 2;
  options.window = window;
  options.hop = std::clamp(static_cast<int>(std::lround(hop_at_reference * scale)), 1, window / 2);
  return options;
}

std::unique_ptr<CheckStage> CheckStage::Create(int rate, const ReliabilityOptions& options,
                                               std::string* error, int hop) {
  PitchOptions pitch = CheckPitchOptions(rate, hop);
  std::unique_ptr<PitchTracker> tracker = PitchTracker::Create(rate, pitch, error);
  if (!tracker) return nullptr;
  auto stage = std::make_unique<CheckStage>();
  stage->m_rate = rate;
  stage->m_options = options;
  stage->m_tracker = std::move(tracker);
  stage->m_counter = std::make_unique<CrossingCounter>(pitch.hop, pitch.window);
  stage->m_hop_counter = std::make_unique<CrossingCounter>(pitch.hop, pitch.hop);
  return stage;
}

bool CheckStage::Process(const std::vector<float>& in, std::vector<float>* out, std::string*) {
  *out = in;
  m_tracker->Process(in.data(), in.size());
  m_counter->Process(in.data(), in.size());
  m_hop_counter->Process(in.data(), in.size());
  Collect();
  return true;
}

bool CheckStage::Flush(std::vector<float>* out, std::string*) {
  out->clear();
  m_tracker->Finish();
  m_counter->Finish();
  m_hop_counter->Finish();
  Collect();
  m_finished = true;
  return true;
}

// Frames the tracker and the counter both have, marked, into m_frames.
void CheckStage::Collect() {
  const std::vector<PitchFrame>& frames = m_tracker->Frames();
  const std::vector<CrossingWindow>& windows = m_counter->Windows();
  const std::vector<CrossingWindow>& hops = m_hop_counter->Windows();
  size_t both = std::min({frames.size(), windows.size(), hops.size()});
  for (size_t k = 0; k < both; ++k) {
    CheckedFrame checked;
    checked.time_s = frames[k].time_s;
    checked.hz = frames[k].hz;
    checked.level_db = frames[k].level_db;
    checked.crossings_per_period =
        ReliabilityCheck::CrossingsPerPeriod(windows[k], frames[k].hz, m_rate);
    checked.mark = ReliabilityCheck::Classify(frames[k], windows[k], m_rate, m_options);
    checked.several_pitches = ReliabilityCheck::SeveralPitches(frames[k], m_options);
    checked.hop_crossings = hops[k].crossings;
    checked.hop_samples = hops[k].samples;
    m_frames.push_back(checked);
  }
  m_tracker->DropFrames(both);
  m_counter->DropWindows(both);
  m_hop_counter->DropWindows(both);
}

}  // namespace tonevolt
