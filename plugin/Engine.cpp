#include "plugin/Engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "FpuControl.h"
#include "conditioning/LiveReading.h"
#include "conditioning/LiveTracker.h"

namespace tonevolt {
namespace {

// The largest piece the core takes in one call.
constexpr uint32_t kMaxPiece = 1u << 30;
// The tracker's conditioned samples wait in a buffer of this many between
// the tracker and the core; longer host blocks go in pieces.
constexpr uint32_t kConditionedPiece = 2048;

// A value as Set() keeps it; NaN takes the default.
float Normalized(const ControlInfo& control, float value, float fallback) {
  if (std::isnan(value)) return fallback;
  if (control.id == kControlHold) return value > 0.0f ? 1.0f : 0.0f;
  if (value <= control.min) return control.min;
  if (value >= control.max) return control.max;
  return control.Stepped() ? static_cast<float>(std::lround(value)) : value;
}

// 0 (off), or the lowest note the tracker is designed for.
double LowestHz(float value) {
  if (value <= kLowestOffHz) return 0;
  return std::max(static_cast<double>(value), LiveTracker::kLowestHz);
}

// State: "TVS", its version, the kind (0 plain, 1 tracker), the count of
// settings, then each as its id and the float's bits, little-endian.
constexpr uint8_t kStateMagic[3] = {'T', 'V', 'S'};
constexpr uint8_t kStateVersion = 1;
constexpr size_t kStateHeader = 6;
constexpr size_t kStateEntry = 5;

}  // namespace

struct PluginEngine::Buffers {
  float conditioned[kConditionedPiece];
  float gate[kConditionedPiece];
  float note_hz[kConditionedPiece];
};

PluginEngine::PluginEngine(float sample_rate, bool tracker)
    : m_sample_rate(sample_rate), m_tracker_kind(tracker) {
  for (const ControlInfo& control : kControls) m_values[control.id] = control.Default(tracker);
  OpenCore();
  if (!tracker) return;
  m_buffers.reset(new (std::nothrow) Buffers);
  m_rate_step.reset(new (std::nothrow) RateStep(sample_rate));
  Design(kLowestDefaultHz);
}

PluginEngine::~PluginEngine() = default;

bool PluginEngine::Ready() const {
  return !m_tracker_kind || (m_buffers && m_rate_step && m_tracker && m_note_hold);
}

std::unique_ptr<PluginEngine> PluginEngine::AtRate(float sample_rate) const {
  std::unique_ptr<PluginEngine> engine(new (std::nothrow)
                                           PluginEngine(sample_rate, m_tracker_kind));
  if (!engine || !engine->Ready()) return nullptr;
  std::copy_n(m_values, kTrackerControlCount, engine->m_values);
  return engine;
}

void PluginEngine::Set(ControlId id, float value) {
  if (id >= ControlCount()) return;
  // A host's value may be a signaling NaN, and its thread may trap on one.
  const DefaultFpuScope words;
  m_values[id] = Normalized(kControls[id], value, kControls[id].Default(m_tracker_kind));
}

float PluginEngine::Get(ControlId id) const { return id < ControlCount() ? m_values[id] : 0.0f; }

void PluginEngine::OpenCore() {
  const DefaultFpuScope words;
  m_core.Open(static_cast<float>(m_sample_rate));
  m_core.BuildPitchTable();
  m_core_has_run = false;
}

// Not real-time: every band the tracker may steer to is designed here.
void PluginEngine::Design(double lowest_hz) {
  const DefaultFpuScope words;
  LiveOptions options;
  options.lowest_hz = lowest_hz;
  m_tracker.reset(new (std::nothrow) LiveTracker(m_sample_rate, options));
  m_note_hold.reset(m_tracker ? new (std::nothrow)
                                    NoteHold(m_tracker->CloseDelaySamples(), m_sample_rate)
                              : nullptr);
  m_designed_lowest = lowest_hz;
  m_tracker_has_run = false;
}

void PluginEngine::Activate() {
  // A used core is replaced and its table built again.
  if (m_core_has_run) {
    m_core = TonevoltCore();
    OpenCore();
  }
  if (!m_tracker_kind || !Ready()) return;
  const double lowest = LowestHz(m_values[kControlLowest]);
  m_tracker_on = lowest > 0;
  if (m_tracker_on && lowest != m_designed_lowest) {
    Design(lowest);
    if (!Ready()) return;
  } else if (m_tracker_has_run) {
    const DefaultFpuScope words;
    m_tracker->Reset();
    m_tracker_has_run = false;
  }
  m_note_hold->Reset();
}

// In kDefaultFpuControlWords.
void PluginEngine::ApplySettings() {
  m_core_has_run = true;
  m_core.SetCutoff(m_values[kControlCutoff]);
  m_core.SetOctaveIndex(OctaveIndexOfShift(static_cast<int32_t>(m_values[kControlOctave])));
  m_core.SetFreqScale(static_cast<int32_t>(m_values[kControlScale]));
  m_core.SetFilterOrder(OrderIndexOfPoles(static_cast<int32_t>(m_values[kControlOrder])));
}

void PluginEngine::Process(const float* in, float* pitch, float* gate, uint32_t count) {
  // No sample, no setting change to observe: the state stays as it is.
  if (count == 0 || !Ready()) return;
  const DefaultFpuScope words;
  ApplySettings();
  // The rounding of the call (FpuControl.h): toward zero for 1 V/oct.
  const FpuControlWords call_words = CallWords(kDefaultFpuControlWords, m_core.VoltPerOctave());
  if (m_tracker_kind && m_tracker_on) {
    m_tracker->SetThreshold(m_values[kControlThreshold]);
    m_tracker_has_run = true;
    for (uint32_t done = 0; done < count;) {
      const uint32_t piece = std::min(count - done, kConditionedPiece);
      // The input is read here before any output of this piece is written,
      // so outputs may share the input's buffer.
      LoadFpuControlWords(kDefaultFpuControlWords);
      m_tracker->Process(in + done, m_buffers->conditioned, m_buffers->gate, piece,
                         m_buffers->note_hz);
      LoadFpuControlWords(call_words);
      m_core.Process(m_buffers->conditioned, pitch + done, static_cast<int32_t>(piece));
      m_rate_step->Process(pitch + done, piece, m_core.VoltPerOctave());
      // The hold's mean rounds as the tool's does: to nearest.
      LoadFpuControlWords(kDefaultFpuControlWords);
      m_note_hold->Process(pitch + done, m_buffers->gate, m_buffers->note_hz, piece,
                           m_values[kControlHold] > 0.0f);
      if (gate != nullptr) std::copy_n(m_buffers->gate, piece, gate + done);
      done += piece;
    }
    return;
  }
  LoadFpuControlWords(call_words);
  for (uint32_t done = 0; done < count;) {
    const uint32_t piece = std::min(count - done, kMaxPiece);
    m_core.Process(in + done, pitch + done, static_cast<int32_t>(piece));
    done += piece;
  }
  if (m_tracker_kind && gate != nullptr) std::fill(gate, gate + count, 0.0f);
}

void PluginEngine::Align(int64_t frame) {
  if (!m_tracker_kind || !Ready()) return;
  const DefaultFpuScope words;
  m_tracker->Align(frame);
}

size_t PluginEngine::SaveState(uint8_t* bytes, size_t capacity) const {
  const uint32_t count = ControlCount();
  const size_t size = kStateHeader + kStateEntry * count;
  if (capacity < size) return 0;
  std::memcpy(bytes, kStateMagic, sizeof kStateMagic);
  bytes[3] = kStateVersion;
  bytes[4] = m_tracker_kind ? 1 : 0;
  bytes[5] = static_cast<uint8_t>(count);
  uint8_t* entry = bytes + kStateHeader;
  for (uint32_t id = 0; id < count; ++id, entry += kStateEntry) {
    uint32_t bits;
    std::memcpy(&bits, &m_values[id], sizeof bits);
    entry[0] = static_cast<uint8_t>(id);
    for (int byte = 0; byte < 4; ++byte) entry[1 + byte] = static_cast<uint8_t>(bits >> (8 * byte));
  }
  return size;
}

bool PluginEngine::LoadState(const uint8_t* bytes, size_t size) {
  float values[kTrackerControlCount];
  if (!DecodeState(bytes, size, m_tracker_kind, values)) return false;
  std::copy_n(values, ControlCount(), m_values);
  return true;
}

bool PluginEngine::DecodeState(const uint8_t* bytes, size_t size, bool tracker,
                               float (&values)[kTrackerControlCount]) {
  const uint32_t count = tonevolt::ControlCount(tracker);
  if (bytes == nullptr || size < kStateHeader) return false;
  const DefaultFpuScope words;
  if (std::memcmp(bytes, kStateMagic, sizeof kStateMagic) != 0 || bytes[3] != kStateVersion)
    return false;
  if (bytes[4] != (tracker ? 1 : 0) || bytes[5] != count) return false;
  if (size != kStateHeader + kStateEntry * count) return false;
  bool seen[kTrackerControlCount] = {};
  const uint8_t* entry = bytes + kStateHeader;
  for (uint32_t i = 0; i < count; ++i, entry += kStateEntry) {
    const uint32_t id = entry[0];
    if (id >= count || seen[id]) return false;
    uint32_t bits = 0;
    for (int byte = 0; byte < 4; ++byte)
      bits |= static_cast<uint32_t>(entry[1 + byte]) << (8 * byte);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    // Only what Set() keeps: a number in range, a list's whole entry.
    if (std::isnan(value) || Normalized(kControls[id], value, 0.0f) != value) return false;
    values[id] = value;
    seen[id] = true;
  }
  return true;
}

}  // namespace tonevolt
