#include "analysis/PitchTracker.h"

#include <algorithm>
#include <cmath>

#include "conditioning/MelodyTracker.h"
#include "analysis/Partials.h"

namespace tonevolt {
namespace {

constexpr double kSilenceDb = -200.0;
// Neighbouring melody frames this close are one glide or one note.
constexpr double kGlideOctaves = 1.0 / 12;

bool IsPowerOfTwo(int n) { return n > 0 && (n & (n - 1)) == 0; }

// A ratio of 2, 3 or 4 either way: how trackers slip from a note.
bool IsOctaveSlip(double ratio) {
  if (ratio < 1) ratio = 1 / ratio;
  for (int n : {2, 3, 4})
    if (std::fabs(ratio / n - 1) < 0.03) return true;
  return false;
}


}  // namespace

PitchTracker::PitchTracker(int sample_rate, const PitchOptions& options)
    : m_rate(sample_rate), m_options(options), m_window(options.window) {}

PitchTracker::~PitchTracker() = default;

std::unique_ptr<PitchTracker> PitchTracker::Create(int sample_rate, const PitchOptions& options,
                                                   std::string* error,
                                                   const MelodyTracker* shared) {
  if (sample_rate < 1000 || sample_rate > 1000000) {
    *error = "pitch tracking needs a sample rate of 1000 to 1000000 Hz, not " +
             std::to_string(sample_rate);
    return nullptr;
  }
  if (!IsPowerOfTwo(options.window) || options.window < 1024 || options.window > 65536) {
    *error = "pitch window " + std::to_string(options.window) +
             " is not a power of two from 1024 to 65536";
    return nullptr;
  }
  if (options.hop < 1 || options.hop > options.window / 2) {
    *error = "pitch hop " + std::to_string(options.hop) + " is not 1 to half the window (" +
             std::to_string(options.window / 2) + ")";
    return nullptr;
  }
  if (!(options.melody_frame_seconds >= 0.001 && options.melody_frame_seconds <= 0.1) ||
      options.melody_decision_lag < 0 || options.melody_decision_lag > 100 ||
      !(options.lowest_hz >= 10 && options.lowest_hz <= 1000) ||
      !(options.silence_db >= -200 && options.silence_db <= 0)) {
    *error = "the melody tracker needs frames of 1 to 100 ms, a lag of 0 to 100 frames and a "
             "lowest pitch of 10 to 1000 Hz, and silence at -200 to 0 dB";
    return nullptr;
  }
  std::unique_ptr<PitchTracker> tracker(new PitchTracker(sample_rate, options));
  if (shared == nullptr) {
    MelodyOptions melody;
    melody.lowest_hz = options.lowest_hz;
    melody.frame_seconds = options.melody_frame_seconds;
    melody.decision_lag = options.melody_decision_lag;
    melody.silence_db = options.silence_db;
    tracker->m_melody = std::make_unique<MelodyTracker>(sample_rate, melody);
    shared = tracker->m_melody.get();
  }
  tracker->m_melody_hop = shared->Hop();
  tracker->m_longest_period = shared->LongestPeriod();
  tracker->m_partials = std::make_unique<WindowPartials>(options.window, sample_rate);
  return tracker;
}

void PitchTracker::Process(const float* in, size_t count) {
  if (m_finished) return;
  m_history.insert(m_history.end(), in, in + count);
  m_input += static_cast<int64_t>(count);
  if (m_melody) {
    m_melody->Process(in, count);
    TakeMelody(*m_melody, false);
    m_melody->Pop(m_melody->Ready());
  } else {
    AddFrames();
  }
}

void PitchTracker::Finish() {
  if (m_finished) return;
  m_finished = true;
  if (m_melody) {
    m_melody->Finish();
    TakeMelody(*m_melody, true);
  } else {
    AddFrames();
  }
}

void PitchTracker::TakeMelody(const MelodyTracker& shared, bool ended) {
  const uint64_t have = m_melody_first + m_melody_frames.size();
  for (uint64_t j = std::max(have, shared.Taken()); j < shared.Taken() + shared.Ready(); ++j)
    m_melody_frames.push_back(shared.Frame(static_cast<size_t>(j - shared.Taken())));
  m_melody_ended = ended;
  AddFrames();
}

const MelodyFrame& PitchTracker::Melody(uint64_t index) const {
  static const MelodyFrame kNone;
  return index >= m_melody_first && index < m_melody_first + m_melody_frames.size()
             ? m_melody_frames[static_cast<size_t>(index - m_melody_first)]
             : kNone;
}

void PitchTracker::DropFrames(size_t count) {
  count = std::min(count, m_frames.size());
  m_frames.erase(m_frames.begin(), m_frames.begin() + static_cast<std::ptrdiff_t>(count));
  m_dropped += count;
}

float PitchTracker::Sample(int64_t i) const {
  if (i < m_history_first || i >= m_input) return 0.0f;
  const float x = m_history[static_cast<size_t>(i - m_history_first)];
  // The spectrum's arithmetic would spread a NaN over its whole window; the
  // module counts such samples as zero.
  return std::isfinite(x) ? x : 0.0f;
}

// Frames whose window the input has filled and whose melody frames on
// either side are decided (all of them up to the input's end once it has
// ended).
void PitchTracker::AddFrames() {
  const int64_t hop = m_options.hop, half = m_options.window / 2;
  const int64_t melody_hop = m_melody_hop;
  const int64_t last = m_finished && m_melody_ended ? (m_input + hop - 1) / hop : INT64_MAX;
  for (int64_t k = static_cast<int64_t>(m_dropped + m_frames.size()); k < last; ++k) {
    const int64_t centre = k * hop;
    if (!m_finished && m_input < centre + half) break;
    // The melody frames that hear the sound around the centre.
    const int64_t heard = centre + m_longest_period / 2;
    const uint64_t before = static_cast<uint64_t>(heard / m_melody_hop);
    // Kept from one before `before` (for the ends of notes) to one after.
    const uint64_t first = before > 0 ? before - 1 : 0;
    while (m_melody_first < first && !m_melody_frames.empty()) {
      m_melody_frames.pop_front();
      ++m_melody_first;
    }
    if (!m_melody_ended && m_melody_first + m_melody_frames.size() < before + 2) break;
    const MelodyFrame& a = Melody(before);
    const MelodyFrame& b = Melody(before + 1);

    PitchFrame frame;
    frame.time_s = static_cast<double>(centre) / m_rate;
    frame.level_db = HopLevelDb(centre);
    // Between two frames with a pitch, the pitch in between on a log scale
    // (a glide reads at its own time); otherwise the nearest frame's with
    // one, up to a frame and a half away: a window half in a note still has
    // it, as at the note's ends.
    const double along = static_cast<double>(heard - static_cast<int64_t>(before) * melody_hop) /
                         static_cast<double>(melody_hop);
    if (a.hz > 0 && b.hz > 0 && std::fabs(std::log2(b.hz / a.hz)) < kGlideOctaves) {
      frame.hz = a.hz * std::exp2(along * std::log2(b.hz / a.hz));
      frame.confidence = a.clarity + along * (b.clarity - a.clarity);
    } else {
      const MelodyFrame* nearest = nullptr;
      double distance = 0;
      for (uint64_t j = first; j <= before + 1; ++j) {
        const double away = std::fabs(static_cast<double>(j) - static_cast<double>(before) - along);
        if (Melody(j).hz > 0 && (nearest == nullptr || away < distance)) {
          nearest = &Melody(j);
          distance = away;
        }
      }
      if (nearest != nullptr) {
        frame.hz = nearest->hz;
        frame.confidence = nearest->clarity;
      }
    }
    frame.confidence = std::clamp(frame.confidence, 0.0, 1.0);
    // The spectrum wherever there is sound: a chord's blur has no pitch in
    // the tracker, but its partials still tell it from one note.
    if (frame.hz > 0 || frame.level_db >= m_options.silence_db) {
      for (int64_t i = 0; i < m_options.window; ++i)
        m_window[static_cast<size_t>(i)] = Sample(centre - half + i);
      m_partials->Analyse(m_window.data());
      // The tracker taken in by an undertone or a harmonic (an octave off on
      // a weak fundamental) leaves partials outside its series: the series
      // they fit is the note's.
      const double series = m_partials->Series(frame.hz);
      if (frame.hz > 0 && series > 0 && IsOctaveSlip(series / frame.hz)) frame.hz = series;
      frame.several_pitches = series == 0;
      if (frame.hz > 0) {
        const WindowPartials::LowestPartial lowest = m_partials->FindLowestPartial(frame.hz);
        frame.lowest_partial = lowest.harmonic;
        if (m_options.fundamental_peak && lowest.harmonic == 1) frame.hz = lowest.hz;
      }
    }
    m_frames.push_back(frame);
  }
  // What no frame to come reads, let go of now and then.
  const int64_t next = static_cast<int64_t>(m_dropped + m_frames.size()) * hop;
  const int64_t unread = next - half - hop - m_history_first;
  if (unread > 0 && static_cast<size_t>(unread) > m_history.size() / 2) {
    m_history.erase(m_history.begin(), m_history.begin() + unread);
    m_history_first += unread;
  }
}

double PitchTracker::HopLevelDb(int64_t centre) const {
  int64_t start = std::max<int64_t>(0, centre - m_options.hop / 2);
  int64_t end = std::min<int64_t>(m_input, centre - m_options.hop / 2 + m_options.hop);
  if (end <= start) return kSilenceDb;
  double sum = 0;
  for (int64_t i = start; i < end; ++i) {
    double x = Sample(i);
    sum += x * x;
  }
  double rms = std::sqrt(sum / static_cast<double>(end - start));
  return rms > 1e-10 ? 20 * std::log10(rms) : kSilenceDb;
}

}  // namespace tonevolt
