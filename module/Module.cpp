#include "Module.h"

#include <atomic>
#include <climits>
#include <cstddef>
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

}  // namespace

// ----------------------------------------------------------- description

namespace {

// clang-format off
const char kAbout[] =
    "Tonevolt V" TONEVOLT_VERSION "\n"
    "Frequency to voltage converter: 1 V/kHz or 1 V/octave.\n"
    "Copyright (c) 2026 krelmor. All rights reserved.\n"
    "Free for use in any patch, commercial or not.\n"
    "Questions and bug reports: see the documentation that came with it.";
// clang-format on

// A pin's default or list as text, written at compile time from the
// contract (TonevoltPins.h) so that the description cannot drift from it.
// Running past the end stops the build.
struct PinText {
  static constexpr int kCapacity = 64;
  char chars[kCapacity] = {};
  int size = 0;

  constexpr PinText& Add(const char* text) {
    while (*text != '\0') chars[size++] = *text++;
    return *this;
  }
  constexpr PinText& Add(int32_t number) {
    if (number < 0) chars[size++] = '-';
    char digits[10] = {};
    int count = 0;
    for (uint32_t rest = number < 0 ? 0u - static_cast<uint32_t>(number) : number;
         count == 0 || rest != 0; rest /= 10)
      digits[count++] = static_cast<char>('0' + rest % 10);
    while (count > 0) chars[size++] = digits[--count];
    return *this;
  }
  // "label=index,..." or, without the indices, "label,...".
  template <size_t kCount>
  constexpr PinText& AddList(const char* const (&labels)[kCount], bool with_indices) {
    for (size_t index = 0; index < kCount; ++index) {
      if (index > 0) Add(",");
      Add(labels[index]);
      if (with_indices) Add("=").Add(static_cast<int32_t>(index));
    }
    return *this;
  }
};

constexpr PinText Number(int32_t number) { return PinText().Add(number); }

// The description writes the cutoff in whole hertz.
constexpr int32_t WholeHz(float hz) { return static_cast<int32_t>(hz); }
static_assert(WholeHz(kCutoffMinHz) == kCutoffMinHz && WholeHz(kCutoffMaxHz) == kCutoffMaxHz &&
                  WholeHz(kCutoffDefaultHz) == kCutoffDefaultHz,
              "the description writes the cutoff's range and default in whole hertz");

// The slider's range and then the value's, highest first.
constexpr PinText kCutoffRange = PinText()
                                     .Add(WholeHz(kCutoffMaxHz))
                                     .Add(".f,")
                                     .Add(WholeHz(kCutoffMinHz))
                                     .Add(".f,")
                                     .Add(WholeHz(kCutoffMaxHz))
                                     .Add(".f,")
                                     .Add(WholeHz(kCutoffMinHz))
                                     .Add(".f");
constexpr PinText kCutoffDefault = Number(WholeHz(kCutoffDefaultHz));
constexpr PinText kOctaveList = PinText().AddList(kOctaveLabels, true);
constexpr PinText kOctaveDefault = Number(kOctaveDefaultIndex);
constexpr PinText kScaleList = PinText().AddList(kScaleLabels, false);
constexpr PinText kScaleDefaultText = Number(kScaleDefault);
constexpr PinText kOrderList = PinText().AddList(kOrderLabels, true);
constexpr PinText kOrderDefaultText = Number(kOrderDefault);
static_assert(kCutoffRange.size < PinText::kCapacity && kOctaveList.size < PinText::kCapacity &&
                  kScaleList.size < PinText::kCapacity && kOrderList.size < PinText::kCapacity,
              "a pin's text leaves room for its terminating zero");

struct PinDescription {
  const char* name;
  int32_t direction;
  int32_t data_type;
  const char* default_value;
  const char* extra;  // null: not written
};

const PinDescription kPins[kModulePinCount] = {
    {"Input", DIR_INPUT, TYPE_AUDIO, "0", nullptr},
    {"Filter Cutoff", DIR_SETTING, TYPE_FLOAT, kCutoffDefault.chars, kCutoffRange.chars},
    {"Octave", DIR_INPUT, TYPE_ENUM, kOctaveDefault.chars, kOctaveList.chars},
    {"  Pitch", DIR_OUTPUT, TYPE_AUDIO, "0", nullptr},
    {"Freq Scale", DIR_SETTING, TYPE_ENUM, kScaleDefaultText.chars, kScaleList.chars},
    {"Filter Order", DIR_SETTING, TYPE_ENUM, kOrderDefaultText.chars, kOrderList.chars},
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

  // The rounding of the call (FpuControl.h); only a 1 V/oct call switches.
  const bool volt_per_octave = m_core.VoltPerOctave();
  if (volt_per_octave) LoadFpuControlWords(TruncatingWords(SavedControlWords()));

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
