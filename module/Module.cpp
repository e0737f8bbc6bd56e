#include "Module.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <new>

#include "FpuControl.h"

WBModule_base* WBCreateModule(WBHostCallback host_callback) {
  return new (std::nothrow) Module(host_callback);
}

// ------------------------------------------------------- control words

namespace {

// Process-wide: the control words captured by the latest open of any
// instance, the x87 word in bits 32-47 and MXCSR in bits 0-31, so that an
// open on one thread and a 1 V/oct call on another never see half an update.
// Every 1 V/oct call rounds toward zero with these words' other bits, and
// leaves them behind when it returns.
std::atomic<uint64_t> g_open_control_words{0};

uint64_t Pack(const FpuControlWords& words) {
  return static_cast<uint64_t>(words.x87) << 32 | words.mxcsr;
}

FpuControlWords SavedControlWords() {
  uint64_t packed = g_open_control_words.load(std::memory_order_relaxed);
  return {static_cast<uint16_t>(packed >> 32), static_cast<uint32_t>(packed)};
}

FpuControlWords TruncatingControlWords() {
  FpuControlWords words = SavedControlWords();
  words.x87 |= kX87TruncatingBits;
  words.mxcsr |= kMxcsrTruncatingBits;
  return words;
}

}  // namespace

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

const PinDescription kPins[kModulePinCount] = {
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
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(kModulePinCount)) return false;
  void* const variables[kModulePinCount] = {&m_input,  &m_cutoff,     &m_octave,
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
  SetProcessRoutine(static_cast<ProcessRoutine>(&Module::ProcessSamples));

  MaskFpuExceptions();
  m_core.Open(SampleRate());

  g_open_control_words.store(Pack(ReadFpuControlWords()), std::memory_order_relaxed);
  m_core.BuildPitchTable();
}

// ------------------------------------------------------------ processing

void Module::ProcessSamples(int32_t buffer_offset, int32_t sample_count) {
  m_core.SetCutoff(m_cutoff);
  m_core.SetOctaveIndex(m_octave);
  m_core.SetFreqScale(m_freq_scale);
  m_core.SetFilterOrder(m_filter_order);

  // The whole 1 V/oct call, coefficient update included, rounds toward zero.
  const bool volt_per_octave = m_core.VoltPerOctave();
  if (volt_per_octave) LoadFpuControlWords(TruncatingControlWords());

  if (sample_count > 0) {
    m_core.Process(m_input + buffer_offset, m_output + buffer_offset, sample_count);
  } else {
    m_core.Process(nullptr, nullptr, 0);
  }

  // The words of the latest open, not the ones found on entry.
  if (volt_per_octave) LoadFpuControlWords(SavedControlWords());
}

// --------------------------------------------------------- status, sleep

void Module::OnPinStatusChange(WBPin*) {
  int32_t status = Pin(PIN_INPUT)->Status();
  if (Pin(PIN_OCTAVE)->Status() == STATUS_STREAMING) status = STATUS_STREAMING;
  if (Pin(PIN_FILTER_CUTOFF)->Status() == STATUS_STREAMING) status = STATUS_STREAMING;
  Pin(PIN_PITCH)->TransmitStatusChange(SampleClock(), status);
  if (status < STATUS_STREAMING) {
    m_sleep_countdown = BlockSize();
    SetProcessRoutine(static_cast<ProcessRoutine>(&Module::ProcessWithSleepCountdown));
  } else {
    SetProcessRoutine(static_cast<ProcessRoutine>(&Module::ProcessSamples));
  }
}

void Module::ProcessWithSleepCountdown(int32_t buffer_offset, int32_t sample_count) {
  ProcessSamples(buffer_offset, sample_count);
  // Saturates instead of wrapping, so a huge host block size cannot turn the
  // countdown positive again.
  int64_t left = static_cast<int64_t>(m_sleep_countdown) - sample_count;
  m_sleep_countdown = left < INT32_MIN ? INT32_MIN : static_cast<int32_t>(left);
  if (m_sleep_countdown <= 0 && QueueEmpty()) {
    CallHost(HOST_REQUEST_SLEEP, 0, 0, nullptr, 0);
  }
}
