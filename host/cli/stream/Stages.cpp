#include "stream/Stages.h"

#include <algorithm>
#include <cmath>

#include "TonevoltPins.h"
#include "options/Values.h"

namespace tonevolt {

std::unique_ptr<ResampleStage> ResampleStage::Create(int in_rate, int out_rate,
                                                     Resampler::Signal signal, std::string* error) {
  std::unique_ptr<Resampler> resampler = Resampler::Create(in_rate, out_rate, signal, error);
  if (!resampler) return nullptr;
  auto stage = std::make_unique<ResampleStage>();
  stage->m_resampler = std::move(resampler);
  stage->m_signal = signal;
  return stage;
}

bool ResampleStage::Process(const std::vector<float>& in, std::vector<float>* out, std::string*) {
  out->clear();
  m_resampler->Process(in.data(), in.size(), out);
  Squelch(out);
  return true;
}

void ResampleStage::Squelch(std::vector<float>* out) const {
  if (m_signal != Resampler::Signal::kAudio) return;
  for (float& x : *out)
    if (std::fabs(x) < kNoiseFloor) x = 0.0f;
}

bool ResampleStage::Flush(std::vector<float>* out, std::string*) {
  out->clear();
  m_resampler->Flush(out);
  Squelch(out);
  return true;
}

std::unique_ptr<PrefilterStage> PrefilterStage::Create(const PrefilterChoice& choice, double rate,
                                                       double gate_db, std::string* error) {
  auto stage = std::make_unique<PrefilterStage>();
  stage->m_rate = rate;
  if (choice.kind == PrefilterChoice::Kind::kFollow) {
    stage->m_tracker = std::make_unique<MelodyTracker>(rate);
    stage->m_follow = std::make_unique<FollowFilter>(rate, MelodyOptions().lowest_hz);
    stage->m_follow->MuteBelow(gate_db);
    // The fade ends where the pitch changes, half a frame early at most.
    stage->m_lead = std::lround(FollowFilter::kCrossfadeSeconds * rate);
    return stage;
  }
  if (choice.kind == PrefilterChoice::Kind::kLive) {
    stage->m_live = std::make_unique<LiveTracker>(rate, LiveOptions());
    if (choice.hold)
      stage->m_hold.note_hold =
          std::make_unique<NoteHold>(stage->m_live->CloseDelaySamples(), rate);
    return stage;
  }
  stage->m_filter = Prefilter::Create(choice, rate, error);
  if (!stage->m_filter) return nullptr;
  return stage;
}

bool PrefilterStage::Process(const std::vector<float>& in, std::vector<float>* out, std::string*) {
  if (m_follow) {
    m_tracker->Process(in.data(), in.size());
    if (m_shared_with != nullptr) m_shared_with->TakeMelody(*m_tracker, false);
    m_waiting.insert(m_waiting.end(), in.begin(), in.end());
    Follow(false, out);
    return true;
  }
  out->resize(in.size());
  if (m_hold.note_hold) {
    m_gate.resize(in.size());
    m_note_hz.resize(in.size());
    m_live->Process(in.data(), out->data(), m_gate.data(), in.size(), m_note_hz.data());
    m_hold.gates.insert(m_hold.gates.end(), m_gate.begin(), m_gate.end());
    m_hold.note_hz.insert(m_hold.note_hz.end(), m_note_hz.begin(), m_note_hz.end());
  } else if (m_live) {
    m_live->Process(in.data(), out->data(), nullptr, in.size());
  } else {
    m_filter->Process(in.data(), out->data(), in.size());
  }
  return true;
}

// The module gives back, in order, as many samples as it was given: each
// takes the gate and pitch of the sample it was made from.
bool PrefilterStage::HoldStage::Process(const std::vector<float>& in, std::vector<float>* out,
                                        std::string*) {
  *out = in;
  const auto end = gates.begin() + static_cast<std::ptrdiff_t>(in.size());
  run.assign(gates.begin(), end);
  gates.erase(gates.begin(), end);
  const auto hz_end = note_hz.begin() + static_cast<std::ptrdiff_t>(in.size());
  run_hz.assign(note_hz.begin(), hz_end);
  note_hz.erase(note_hz.begin(), hz_end);
  note_hold->Process(out->data(), run.data(), run_hz.data(), out->size(), true);
  return true;
}

bool PrefilterStage::Flush(std::vector<float>* out, std::string*) {
  out->clear();
  if (m_follow) {
    m_tracker->Finish();
    if (m_shared_with != nullptr) m_shared_with->TakeMelody(*m_tracker, true);
    Follow(true, out);
  }
  return true;
}

// Filters the waiting input as far as the tracker has decided the pitch
// that steers it (all of it once the input has ended: past the last frame
// the band stays).
void PrefilterStage::Follow(bool finished, std::vector<float>* out) {
  out->clear();
  const int64_t hop = m_tracker->Hop();
  while (!m_waiting.empty()) {
    // The frame nearest the sample m_lead ahead.
    const int64_t ahead = static_cast<int64_t>(m_emitted) + m_lead;
    const uint64_t frame = static_cast<uint64_t>((ahead + hop / 2) / hop);
    const uint64_t known = m_tracker->Taken() + m_tracker->Ready();
    if (frame >= known && !finished) break;
    if (frame > m_tracker->Taken()) m_tracker->Pop(static_cast<size_t>(frame - m_tracker->Taken()));
    if (m_tracker->Ready() > 0) m_follow->Steer(m_tracker->Frame(0).hz);
    // Up to the next frame's first sample.
    const int64_t next = static_cast<int64_t>(frame + 1) * hop - hop / 2 - m_lead;
    const size_t length = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(m_waiting.size()),
                          std::max<int64_t>(1, next - static_cast<int64_t>(m_emitted))));
    m_run.assign(m_waiting.begin(), m_waiting.begin() + static_cast<std::ptrdiff_t>(length));
    m_waiting.erase(m_waiting.begin(), m_waiting.begin() + static_cast<std::ptrdiff_t>(length));
    m_follow->Process(m_run.data(), m_run.data(), length);
    out->insert(out->end(), m_run.begin(), m_run.end());
    m_emitted += length;
  }
}

double PrefilterStage::DelaySeconds(double hz) const {
  if (m_filter) return m_filter->DelaySeconds(hz);
  std::string error;
  std::unique_ptr<Prefilter> band =
      Prefilter::Create({PrefilterChoice::Kind::kBand, hz}, m_rate, &error);
  return band ? band->DelaySeconds(hz) : 0.0;
}

std::string PrefilterStage::Description() const {
  if (m_filter) return DescribePrefilter(m_filter->Choice());
  return DescribePrefilter({m_live ? PrefilterChoice::Kind::kLive : PrefilterChoice::Kind::kFollow,
                            0, m_hold.note_hold != nullptr});
}

PitchOptions CheckPitchOptions(int rate, int hop_at_reference) {
  PitchOptions options;
  const double scale = rate / kReferenceRate;
  int window = 1024;
  while (window < 65536 && window < CheckStage::kWindow * scale) window *= 2;
  options.window = window;
  options.hop = std::clamp(static_cast<int>(std::lround(hop_at_reference * scale)), 1, window / 2);
  return options;
}

namespace {

// Tracked pitches this close (in natural log, about 50 cents) are one note.
constexpr double kSameNoteLog = 0.029;

}  // namespace

std::unique_ptr<CheckStage> CheckStage::Create(int rate, const CheckRequest& request,
                                               std::string* error, const MelodyTracker* melody) {
  const PitchOptions& pitch = request.pitch;
  std::unique_ptr<PitchTracker> tracker = PitchTracker::Create(rate, pitch, error, melody);
  if (!tracker) return nullptr;
  auto stage = std::make_unique<CheckStage>();
  stage->m_rate = rate;
  stage->m_options = request.options;
  stage->m_listener = request.listener;
  stage->m_input_tap.tracker = std::move(tracker);
  stage->m_counter = std::make_unique<CrossingCounter>(pitch.hop, pitch.window);
  stage->m_hop_counter = std::make_unique<CrossingCounter>(pitch.hop, pitch.hop);
  stage->m_reach = static_cast<size_t>((pitch.window / 2 + pitch.hop - 1) / pitch.hop);
  return stage;
}

bool CheckStage::InputTapStage::Process(const std::vector<float>& in, std::vector<float>* out,
                                        std::string*) {
  *out = in;
  tracker->Process(in.data(), in.size());
  return true;
}

bool CheckStage::InputTapStage::Flush(std::vector<float>* out, std::string*) {
  out->clear();
  tracker->Finish();
  return true;
}

bool CheckStage::Process(const std::vector<float>& in, std::vector<float>* out, std::string*) {
  *out = in;
  m_counter->Process(in.data(), in.size());
  m_hop_counter->Process(in.data(), in.size());
  Collect();
  Release(false);
  return true;
}

bool CheckStage::Flush(std::vector<float>* out, std::string*) {
  out->clear();
  m_counter->Finish();
  m_hop_counter->Finish();
  Collect();
  Release(true);
  if (m_listener != nullptr) m_listener->CheckEnded();
  return true;
}

// Frames the tracker and the counters all have, marked, into m_staged.
void CheckStage::Collect() {
  PitchTracker& tracker = *m_input_tap.tracker;
  const std::vector<PitchFrame>& frames = tracker.Frames();
  const std::vector<CrossingWindow>& windows = m_counter->Windows();
  const std::vector<CrossingWindow>& hops = m_hop_counter->Windows();
  size_t both = std::min({frames.size(), windows.size(), hops.size()});
  size_t taken = 0;
  for (; taken < both; ++taken) {
    const PitchFrame& frame = frames[taken];
    CheckedFrame checked;
    checked.time_s = frame.time_s;
    checked.hz = frame.hz;
    checked.level_db = frame.level_db;
    checked.crossings_per_period =
        ReliabilityCheck::CrossingsPerPeriod(windows[taken], frame.hz, m_rate);
    checked.mark = ReliabilityCheck::Classify(frame, windows[taken], m_rate, m_options);
    checked.pitched = ReliabilityCheck::HasPitch(frame, m_options);
    checked.several_pitches = ReliabilityCheck::SeveralPitches(frame, m_options);
    checked.lowest_partial = frame.lowest_partial;
    checked.hop_crossings = hops[taken].crossings;
    checked.hop_samples = hops[taken].samples;
    m_staged.push_back(checked);
  }
  tracker.DropFrames(taken);
  m_counter->DropWindows(taken);
  m_hop_counter->DropWindows(taken);
}

// Staged frames whose neighbours within half a window have arrived (all of
// them once the input has ended) to the listener.
void CheckStage::Release(bool finished) {
  while (m_released < m_staged.size() && (finished || m_staged.size() - m_released > m_reach)) {
    m_staged[m_released].one_note = OneNote(m_released);
    if (m_listener != nullptr) m_listener->Checked(m_staged[m_released]);
    ++m_released;
    for (; m_released > m_reach; --m_released) m_staged.pop_front();
  }
}

bool CheckStage::OneNote(size_t at) const {
  const CheckedFrame& frame = m_staged[at];
  if (!frame.pitched) return false;
  size_t from = at >= m_reach ? at - m_reach : 0;
  size_t to = std::min(m_staged.size(), at + m_reach + 1);
  for (size_t j = from; j < to; ++j)
    if (!m_staged[j].pitched || std::fabs(std::log(m_staged[j].hz / frame.hz)) > kSameNoteLog)
      return false;
  return true;
}

}  // namespace tonevolt
