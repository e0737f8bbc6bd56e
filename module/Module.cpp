#include "Module.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <new>

#include "SignalSteps.h"

const double g_ln2 = std::log(2.0);
const double g_ln440 = std::log(440.0);
FpuControlWords g_saved_control_word;
FpuControlWords g_truncating_control_word;

WBModule_base* WBCreateModule(WBHostCallback host_callback) {
  return new (std::nothrow) Module(host_callback);
}

// ----------------------------------------------------------- description

namespace {

const char kAbout[] =
    "Tonevolt V1.1\n"
    "Frequency to voltage converter: 1 V/kHz or 1 V/octave.\n"
    "Copyright (c) 2026 krelmor. All rights reserved.\n"
    "Free for use in any patch, commercial or not.\n"
    "Questions and bug reports: see the documentation that came with it.";

struct PinDescription {
  const char* name;
  int32_t direction;
  int32_t data_type;
  const char* default_value;
  const char* extra;  // null: not written
};

const PinDescription kPins[] = {
    {"Input", DIR_INPUT, TYPE_AUDIO, "0", nullptr},
    {"Filter Cutoff", DIR_SETTING, TYPE_FLOAT, "40", "5000.f,10.f,5000.f,10.f"},
    {"Octave", DIR_INPUT, TYPE_ENUM, "3", "-3=0,-2=1,-1=2,0=3,+1=4,+2=5,+3=6"},
    {"  Pitch", DIR_OUTPUT, TYPE_AUDIO, "0", nullptr},
    {"Freq Scale", DIR_SETTING, TYPE_ENUM, "0", "1 Volt/kHz,1 Volt/Octave"},
    {"Filter Order", DIR_SETTING, TYPE_ENUM, "0", "1-Pole=0,2-Pole=1"},
};

}  // namespace

bool Module::DescribeModule(ModuleProperties* properties) {
  properties->name = "Tonevolt";
  properties->id = "krelmor Tonevolt";
  properties->about = kAbout;
  return true;
}

bool Module::DescribePin(int32_t index, PinProperties* properties) {
  if (static_cast<uint32_t>(index) >= sizeof kPins / sizeof kPins[0]) return false;
  void* const variables[] = {&m_input,  &m_cutoff,     &m_octave,
                             &m_output, &m_freq_scale, &m_filter_order};
  const PinDescription& pin = kPins[index];
  properties->variable = variables[index];
  properties->direction = pin.direction;
  properties->data_type = pin.data_type;
  properties->name = pin.name;
  properties->default_value = pin.default_value;
  if (pin.extra != nullptr) properties->extra = pin.extra;
  return true;
}

// ------------------------------------------------------------------ open

void Module::OnOpen() {
  m_process_routine = static_cast<ProcessRoutine>(&Module::ProcessSamples);
  WBModule_base::OnOpen();

  MaskFpuExceptions();
  m_twice_rate = SampleRate() * 2.0f;
  ComputeCoefficients(kOpenCutoff);

  g_saved_control_word = ReadFpuControlWords();
  g_truncating_control_word = g_saved_control_word;
  g_truncating_control_word.x87 |= kX87TruncatingBits;
  g_truncating_control_word.mxcsr |= kMxcsrTruncatingBits;
  BuildPitchTable();
}

// entry i = 0.1 * (log2(i / 440) + 5): 440 Hz reads 5 V, one volt per octave.
void Module::BuildPitchTable() {
  m_pitch_table[0] = -0.9f;
  for (int32_t i = 1; i < kPitchTableSize; ++i) {
    m_pitch_table[i] =
        static_cast<float>(((std::log(static_cast<double>(i)) - g_ln440) / g_ln2 + 5.0f) * 0.1);
  }
}

// ------------------------------------------------------- single steps

float Module::DetectZeroCrossing(float x) {
  float pulse = ZeroCrossingPulse(m_prev_sample, x);
  m_prev_sample = x;
  return pulse;
}

float Module::FilterStage1(float x) {
  return OnePole(m_a0, m_a1, m_b1, x, m_stage1_x1, m_stage1_y1);
}

float Module::FilterStage2(float x) {
  return OnePole(m_a0, m_a1, m_b1, x, m_stage2_x1, m_stage2_y1);
}

// Bilinear transform, without prewarping, of w / (s + w):
// a0 = a1 = w / (w + 2 fs), b1 = (2 fs - w) / (w + 2 fs).
void Module::ComputeCoefficients(float cutoff) {
  float w = kTwoPi * cutoff;
  float k = static_cast<float>(1.0f / (static_cast<double>(w) + m_twice_rate));
  float a = static_cast<float>(static_cast<double>(w) * k);
  m_a0 = a;
  m_a1 = a;
  m_b1 = static_cast<float>((static_cast<double>(m_twice_rate) - w) * k);
}

// ------------------------------------------------------------ processing

// A piece's lookups stay near the entry of the filter's last value, give or
// take its ripple. Reading one word of each of those lines up front lets
// their cache misses overlap, instead of stalling the loop one after another
// when a host runs many instances whose tables have left the cache. (Plain
// loads: prefetch hints measured no better than nothing here.)
static void TouchPitchLines(const float* table, float last_value) {
  constexpr int32_t kEntriesPerLine = 16, kLinesEachWay = 8;
  int32_t center = _mm_cvttss_si32(_mm_set_ss(last_value * kLookupScale));
  if (center < 0 || center >= kPitchTableSize) return;
  int32_t first = std::max(0, center - kLinesEachWay * kEntriesPerLine);
  int32_t last = std::min(kPitchTableSize - 1, center + kLinesEachWay * kEntriesPerLine);
  float sum = 0.0f;
  for (int32_t i = first; i <= last; i += kEntriesPerLine) sum += table[i];
  volatile float sink = sum;
  (void)sink;
}

void Module::ProcessSamples(int32_t buffer_offset, int32_t sample_count) {
  const bool volt_per_octave = m_freq_scale == 1;
  if (volt_per_octave) {
    // Issued before the switch, which waits for every load ahead of it;
    // pieces cut short by events are left alone, their few lookups cost less.
    if (sample_count >= 64) {
      const float last = m_filter_order == 1 ? m_stage2_y1 : m_stage1_y1;
      TouchPitchLines(m_pitch_table, last * kGain * OctaveFactor(m_octave));
    }
    // The whole call, coefficient update included, rounds toward zero.
    LoadFpuControlWords(g_truncating_control_word);
  }

  if (m_cutoff < m_applied_cutoff || m_cutoff > m_applied_cutoff) {
    m_applied_cutoff = m_cutoff;
    ComputeCoefficients(m_cutoff);
  }

  if (sample_count > 0) {
    const float* input = m_input + buffer_offset;
    float* output = m_output + buffer_offset;
    if (m_filter_order == 1) {
      if (volt_per_octave)
        RunSamples<true, true>(input, output, sample_count);
      else
        RunSamples<true, false>(input, output, sample_count);
    } else {
      if (volt_per_octave)
        RunSamples<false, true>(input, output, sample_count);
      else
        RunSamples<false, false>(input, output, sample_count);
    }
  }

  // The word of the latest open, not the one found on entry.
  if (volt_per_octave) LoadFpuControlWords(g_saved_control_word);
}

template <bool kTwoPoles, bool kVoltPerOctave>
void Module::RunSamples(const float* input, float* output, int32_t sample_count) {
  const float a0 = m_a0, a1 = m_a1, b1 = m_b1;
  const float octave_factor = OctaveFactor(m_octave);
  const float* table = m_pitch_table;
  float prev = m_prev_sample;
  float x1 = m_stage1_x1, y1 = m_stage1_y1;
  float x2 = m_stage2_x1, y2 = m_stage2_y1;  // untouched with one pole
  float value = m_value;

  for (int32_t i = 0; i < sample_count; ++i) {
    const float x = input[i];
    const float pulse = ZeroCrossingPulse(prev, x);
    prev = x;
    value = OnePole(a0, a1, b1, pulse, x1, y1);
    if (kTwoPoles) value = OnePole(a0, a1, b1, value, x2, y2);
    value = value * kGain;
    value = value * octave_factor;
    if (kVoltPerOctave) value = PitchLookup(table, kPitchTableSize, value);
    output[i] = value;
  }

  m_prev_sample = prev;
  m_stage1_x1 = x1;
  m_stage1_y1 = y1;
  if (kTwoPoles) {
    m_stage2_x1 = x2;
    m_stage2_y1 = y2;
  }
  m_value = value;
}

// --------------------------------------------------------- status, sleep

void Module::OnPinStatusChange(WBPin*) {
  int32_t status = Pin(PIN_INPUT)->Status();
  if (Pin(PIN_OCTAVE)->Status() == STATUS_STREAMING) status = STATUS_STREAMING;
  if (Pin(PIN_FILTER_CUTOFF)->Status() == STATUS_STREAMING) status = STATUS_STREAMING;
  Pin(PIN_PITCH)->TransmitStatusChange(SampleClock(), status);
  if (status < STATUS_STREAMING) {
    m_sleep_countdown = BlockSize();
    m_process_routine = static_cast<ProcessRoutine>(&Module::ProcessWithSleepCountdown);
  } else {
    m_process_routine = static_cast<ProcessRoutine>(&Module::ProcessSamples);
  }
}

void Module::ProcessWithSleepCountdown(int32_t buffer_offset, int32_t sample_count) {
  ProcessSamples(buffer_offset, sample_count);
  // Saturates instead of wrapping, so a huge host block size cannot turn the
  // countdown positive again.
  int64_t left = static_cast<int64_t>(m_sleep_countdown) - sample_count;
  m_sleep_countdown = left < INT32_MIN ? INT32_MIN : static_cast<int32_t>(left);
  if (m_sleep_countdown <= 0 && m_events == nullptr) {
    CallHost(HOST_REQUEST_SLEEP, 0, 0, nullptr, 0);
  }
}
