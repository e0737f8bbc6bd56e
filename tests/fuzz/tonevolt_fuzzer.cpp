// Drives Tonevolt.so (built beside this binary with the sanitizers) as a host
// does, through main and the record, with call sequences decoded from the
// fuzzer's bytes. Every sequence keeps the host's obligations: no processing
// before open, blocks of at least one sample, no event stamped before the
// clock, buffers as long as promised. Beyond surviving, it checks what a host
// can rely on:
// - the clock advances by each block's length, and events (pin changes,
//   deferred calls) take effect exactly at their time stamps, as a host sees
//   it: in the clocks of the status reports and in how much of the output a
//   deferred call finds written;
// - DISPATCH_QUEUE_EMPTY agrees with what was queued and applied;
// - after every call the control words are those captured at the latest open;
// - with every cutoff in [10 Hz, open-time rate / pi] the 1 V/kHz output is
//   finite and non-negative and the 1 V/oct output lies within the table.

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "FloatBits.h"
#include "FpuControl.h"
#include "WBHost.h"
#include "WBInterface.h"

namespace {

#define FUZZ_CHECK(condition)                                                          \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "tonevolt_fuzzer: check failed at line %d: %s\n", __LINE__, \
                   #condition);                                                        \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

// Tonevolt's pins, by the indices it describes.
enum : int32_t {
  PIN_INPUT = 0,
  PIN_FILTER_CUTOFF = 1,
  PIN_OCTAVE = 2,
  PIN_PITCH = 3,
  PIN_FREQ_SCALE = 4,
};

// ------------------------------------------------------------ input bytes

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool Empty() const { return m_pos >= m_size; }
  uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
    return v;
  }
  template <typename T, size_t N>
  T Pick(const T (&table)[N]) {
    return table[Byte() % N];
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const float kDenormal = std::numeric_limits<float>::denorm_min();
const float kMax = std::numeric_limits<float>::max();

const float kSampleRates[] = {44100.0f, 48000.0f, 96000.0f, 192000.0f, 8000.0f, 22050.0f,
                              11025.5f, 1.0f,     0.0f,     -44100.0f, 125.0f,  126.0f,
                              1e9f,     1e30f,    kMax,     kInf,      kNaN,    kDenormal};
const float kCutoffs[] = {10.0f, 40.0f, 5000.0f, 1000.0f,   9.99f, 0.0f, -0.0f,    -40.0f,
                          kNaN,  kInf,  -kInf,   kDenormal, 1e30f, kMax, 14037.0f, 3e5f};
const float kSamples[] = {0.0f, -0.0f, 1.0f,      -1.0f,      0.5f,   -0.5f,   kNaN, -kNaN,
                          kInf, -kInf, kDenormal, -kDenormal, 1e-23f, -1e-23f, kMax, -kMax};
const int32_t kEnumValues[] = {
    0,     1,      2, 3, 4, 5, 6, 7, -1, 0x10001, 0x7FFF0001, static_cast<int32_t>(0x80000006),
    65535, 0x10000};
const int32_t kStatuses[] = {STATUS_STATIC, STATUS_ONE_SHOT, STATUS_STREAMING, 3, -1};
const int32_t kBlockSizes[] = {
    1024, 1, 0, -1, 64, 4096, 0x7FFFFFFF, static_cast<int32_t>(0x80000000), 3, 100000};

// The table's ends (entries 0 and 11999) bound every 1 V/oct output for a
// scaled value of at least 0.
const float kTableLow = -0.9f;
const float kTableHigh = 0.97692668437957763671875f;

// ------------------------------------------------------------ control words

// MXCSR bits 0-5 are sticky exception flags that any arithmetic sets, the
// host's included; the control is in the bits above them.
constexpr uint32_t kMxcsrControl = ~0x3Fu;

bool SameControl(const FpuControlWords& a, const FpuControlWords& b) {
  return a.x87 == b.x87 && (a.mxcsr & kMxcsrControl) == (b.mxcsr & kMxcsrControl);
}

// ------------------------------------------------------------ host model

// Output samples not yet written hold this NaN. The module's NaNs come from
// arithmetic, with no payload or with that of a NaN sample rate.
const float kUnwritten = FromBits(0x7FBADBADu);

// The block being processed, as the host sees it while a deferred call runs:
// the output written so far tells at which sample the call came.
struct BlockInFlight {
  const float* output = nullptr;  // null: written in place, not observable
  int32_t count = 0;
  uint32_t start_clock = 0;
};
BlockInFlight g_block;

// One deferred call as the host sees it: how often and at which clock it ran.
struct DeferredSlot {
  WBModule_record* record = nullptr;
  int calls = 0;
  bool clock_seen = false;
  uint32_t clock_at_call = 0;
};

void WB_CALL RunDeferred(void* argument) {
  auto* slot = static_cast<DeferredSlot*>(argument);
  ++slot->calls;
  slot->clock_seen = g_block.output != nullptr;
  if (!slot->clock_seen) return;
  int32_t written = 0;
  while (written < g_block.count && Bits(g_block.output[written]) != Bits(kUnwritten)) ++written;
  slot->clock_at_call = g_block.start_clock + static_cast<uint32_t>(written);
}

struct QueuedEvent {
  uint32_t time_stamp;
  int32_t type;
  int32_t pin;
  int32_t status;
  int32_t value;
  DeferredSlot* slot;  // deferred calls with a function only
};

// What the host knows about one instance, and what it expects of it.
struct Model {
  std::unique_ptr<wbhost::Instance> instance;
  bool opened = false;
  bool callback = true;        // without one, the module reads clock 0 and no host pins
  float rate = 44100.0f;       // the latest rate sent
  float open_rate = 44100.0f;  // the rate at the latest open: the filter's
  int32_t pin_count = 0;
  uint32_t clock = 0;
  std::list<QueuedEvent> events;  // in the order the module applies them
  std::vector<int32_t> statuses;  // pin statuses
  int32_t freq_scale = 0;         // only the low 16 bits are written by the pin
  // Cutoffs ever sent, and whether they and every open-time rate keep the
  // filter's coefficients non-negative.
  bool sane = true;
  float max_cutoff = 40.0f;
};

// Both coefficients stay non-negative iff 2 pi c <= 2 rate, computed as the
// module does in float.
bool CutoffFits(float cutoff, float rate) {
  float twice_rate = rate * 2.0f;
  float w = 6.2831855f * cutoff;
  return std::isfinite(twice_rate) && cutoff >= 10.0f && w <= twice_rate;
}

class Session {
 public:
  Session(WBMainProc main, Reader& in) : m_main(main), m_in(in) {}

  void Run() {
    LoadFpuControlWords(kDefaultFpuControlWords);
    m_words = kDefaultFpuControlWords;
    AddInstance();
    for (int step = 0; step < 300 && !m_in.Empty(); ++step) {
      Model& m = m_models[m_in.Byte() % m_models.size()];
      Step(m);
      CheckWords();
    }
    for (Model& m : m_models) Close(m);
    LoadFpuControlWords(kDefaultFpuControlWords);
  }

 private:
  void AddInstance() {
    Model m;
    m.instance = std::make_unique<wbhost::Instance>();
    m.callback = m_in.Byte() % 8 != 0;
    FUZZ_CHECK(m.instance->Create(m_main, m.callback));
    m.instance->Host().record_calls = true;
    m_models.push_back(std::move(m));
  }

  void CheckWords() {
    FpuControlWords now = ReadFpuControlWords();
    if (!SameControl(now, m_words))
      std::fprintf(stderr, "control words %04x/%08x, captured at open %04x/%08x\n", now.x87,
                   now.mxcsr, m_words.x87, m_words.mxcsr);
    FUZZ_CHECK(SameControl(now, m_words));
  }

  void Step(Model& m) {
    if (!m.instance) {  // closed: another may take its place
      if (m_in.Byte() % 2 == 0) {
        m = Model();
        m.instance = std::make_unique<wbhost::Instance>();
        FUZZ_CHECK(m.instance->Create(m_main));
      }
      return;
    }
    wbhost::Instance& inst = *m.instance;
    switch (m_in.Byte() % 16) {
      case 0: {
        float rate = m_in.Byte() % 4 == 0 ? FromBits(m_in.U32()) : m_in.Pick(kSampleRates);
        // A NaN rate's payload reaches the output; keep it apart from kUnwritten's.
        if (Bits(rate) == Bits(kUnwritten)) rate = FromBits(0x7FC00000u);
        inst.SetSampleRate(rate);
        m.rate = rate;
        break;
      }
      case 1:
        inst.SetBlockSize(m_in.Byte() % 2 ? m_in.Pick(kBlockSizes)
                                          : static_cast<int32_t>(m_in.U32()));
        break;
      case 2:
        Describe(m);
        break;
      case 3:
        Open(m);
        break;
      case 4:
      case 5:
      case 6:
      case 7:
        if (m.opened) AddEvent(m);
        break;
      case 8:
      case 9:
      case 10:
      case 11:
        if (m.opened) Process(m);
        break;
      case 12:
        if (m.opened) Resume(m);
        break;
      case 13: {  // the two queries and opcodes outside the table answer 0
        const int32_t opcodes[] = {
            DISPATCH_QUERY_4, DISPATCH_QUERY_5, 11, -1, 12, 255, static_cast<int32_t>(0x80000000)};
        int32_t opcode = m_in.Pick(opcodes);
        uint32_t host_words[16] = {};
        void* pointer = m_in.Byte() % 2 ? host_words : nullptr;
        FUZZ_CHECK(inst.Dispatch(opcode, 1, 2, pointer, 1.0f) == 0);
        break;
      }
      case 14:
        if (m_in.Byte() % 4 == 0) {
          Close(m);
        } else if (m_models.size() < 3) {
          AddInstance();
        }
        return;  // m may have moved
      default:
        break;
    }
    CheckWords();
    FUZZ_CHECK(inst.QueueEmpty() == m.events.empty());
  }

  void Describe(Model& m) {
    wbhost::Instance& inst = *m.instance;
    const int32_t indices[] = {0, 1, 2,  3,  4,          5,
                               6, 7, -1, 64, 0x7FFFFFFF, static_cast<int32_t>(0x80000000)};
    int32_t index = m_in.Pick(indices);
    bool null_record = m_in.Byte() % 4 == 0;
    PinProperties pin;
    std::memset(&pin, 0, sizeof pin);
    int32_t answer =
        inst.Dispatch(DISPATCH_GET_PIN_PROPERTIES, index, 0, null_record ? nullptr : &pin);
    FUZZ_CHECK(answer == (!null_record && index >= 0 && index < 6 ? 1 : 0));
    CheckWords();
    ModuleProperties module;
    std::memset(&module, 0, sizeof module);
    null_record = m_in.Byte() % 4 == 0;
    answer = inst.Dispatch(DISPATCH_GET_MODULE_PROPERTIES, 0, 0, null_record ? nullptr : &module);
    FUZZ_CHECK(answer == (null_record ? 0 : 1));
    CheckWords();
    // A null event is ignored too.
    FUZZ_CHECK(inst.Dispatch(DISPATCH_ADD_EVENT, 0, 0, nullptr) == 0);
  }

  void Open(Model& m) {
    wbhost::Instance& inst = *m.instance;
    const int32_t counts[] = {0, 6, 8, 64, 5, 7};
    int32_t host_pins = m_in.Byte() % 2 ? m_in.Pick(counts) : m_in.Byte() % 65;
    inst.Host().pin_count = host_pins;
    uint32_t clock = m.clock;
    if (!m.opened) {
      const uint32_t starts[] = {0, 1000, 0xFFFFF000u, 0x7FFFFFFFu};
      clock = m_in.Byte() % 2 ? m_in.Pick(starts) : m_in.U32();
    } else if (m_in.Byte() % 4 == 0) {
      // A re-open may find the host's clock behind the module's, never
      // beyond a queued event.
      clock -= std::min<uint32_t>(clock, m_in.Byte());
    }
    if (!m.callback) clock = host_pins = 0;
    inst.Host().sample_clock = clock;
    inst.Open();
    m_words = ReadFpuControlWords();  // what this open captured
    // The module saves the words it found plus all exceptions masked.
    FUZZ_CHECK((m_words.x87 & kX87ExceptionMasks) == kX87ExceptionMasks &&
               (m_words.mxcsr & kMxcsrExceptionMasks) == kMxcsrExceptionMasks);
    m.opened = true;
    m.clock = clock;
    m.pin_count = std::max(host_pins, 6);
    m.statuses.assign(m.pin_count, STATUS_STATIC);
    m.open_rate = m.rate;
    m.sane = m.sane && CutoffFits(m.max_cutoff, m.open_rate);
    inst.Host().calls.clear();
  }

  int32_t PickPin(const Model& m) {
    switch (m_in.Byte() % 8) {
      case 0:
        return m.pin_count - 1;
      case 1:
        return m.pin_count;  // one past the last pin
      case 2: {
        const int32_t wild[] = {-1, 64, 65, 1000, 0x7FFFFFFF, static_cast<int32_t>(0x80000000)};
        return m_in.Pick(wild);
      }
      default:
        return m_in.Byte() % 8;
    }
  }

  void AddEvent(Model& m) {
    QueuedEvent q{};
    uint32_t delta;
    switch (m_in.Byte() % 4) {
      case 0:
        delta = 0;
        break;
      case 1:
        delta = m_in.U32() % 0x100000;
        break;
      default:
        delta = m_in.Byte() * 8 + m_in.Byte() % 8;
        break;
    }
    // Never before the clock, so never past the clock's last value either.
    if (delta > 0xFFFFFFFFu - m.clock) delta = 0xFFFFFFFFu - m.clock;
    q.time_stamp = m.clock + delta;
    WbEvent e{};
    e.time_stamp = q.time_stamp;
    switch (m_in.Byte() % 8) {
      default: {
        q.type = EVENT_PIN_STATUS;
        q.pin = PickPin(m);
        q.status = m_in.Pick(kStatuses);
        if (q.pin == PIN_FILTER_CUTOFF) {
          uint8_t kind = m_in.Byte() % 4;
          float cutoff = kind == 0   ? FromBits(m_in.U32())
                         : kind == 1 ? 10.0f + (m_in.U32() % 100000) * 0.05f
                                     : m_in.Pick(kCutoffs);
          q.value = static_cast<int32_t>(Bits(cutoff));
          bool fits = !std::isnan(cutoff) && cutoff >= 10.0f;
          if (fits && cutoff > m.max_cutoff) m.max_cutoff = cutoff;
          m.sane = m.sane && fits && CutoffFits(m.max_cutoff, m.open_rate);
        } else {
          q.value = m_in.Byte() % 2 ? m_in.Pick(kEnumValues) : static_cast<int32_t>(m_in.U32());
        }
        e.event_type = EVENT_PIN_STATUS;
        e.value_1 = q.status;
        e.value_2 = q.value;
        e.data = reinterpret_cast<void*>(static_cast<intptr_t>(q.pin));
        break;
      }
      case 5: {
        q.type = EVENT_DEFERRED_CALL;
        e.event_type = EVENT_DEFERRED_CALL;
        uint8_t kind = m_in.Byte() % 8;
        if (kind == 0) break;  // no record: nothing to call
        auto* call = new DeferredCall;
        call->function = nullptr;
        call->argument = nullptr;
        if (kind != 1) {
          m_slots.push_back(std::make_unique<DeferredSlot>());
          q.slot = m_slots.back().get();
          q.slot->record = m.instance->Record();
          call->function = &RunDeferred;
          call->argument = q.slot;
        }
        e.data = call;
        break;
      }
      case 6:
        q.type = EVENT_DATA;
        e.event_type = EVENT_DATA;
        e.value_1 = static_cast<int32_t>(m_in.U32());
        e.value_2 = static_cast<int32_t>(m_in.U32());
        break;
      case 7: {
        const int32_t others[] = {1, 4, -1, 100, 0x7FFFFFFF};
        q.type = m_in.Pick(others);
        e.event_type = q.type;
        e.data = reinterpret_cast<void*>(static_cast<uintptr_t>(m_in.U32()));
        break;
      }
    }
    e.next = reinterpret_cast<WbEvent*>(static_cast<uintptr_t>(0xDEADBEEF));  // ignored
    m.instance->AddEvent(e);
    auto at = m.events.begin();
    while (at != m.events.end() && at->time_stamp <= q.time_stamp) ++at;
    m.events.insert(at, q);
  }

  void FillInput(float* buffer, int32_t count) {
    uint32_t seed = m_in.U32() | 1;
    auto next = [&seed] {
      seed ^= seed << 13;
      seed ^= seed >> 17;
      seed ^= seed << 5;
      return seed;
    };
    switch (m_in.Byte() % 5) {
      case 0: {  // a sine of any frequency, as real input
        double step = (m_in.Byte() + 1) * 0.003;
        double phase = m_in.Byte() * 0.1;
        for (int32_t i = 0; i < count; ++i)
          buffer[i] = static_cast<float>(std::sin(phase + i * step));
        break;
      }
      case 1:
        for (int32_t i = 0; i < count; ++i) buffer[i] = FromBits(next());
        break;
      case 2:
        for (int32_t i = 0; i < count; ++i) buffer[i] = kSamples[next() % 16];
        break;
      case 3: {
        float value = m_in.Pick(kSamples);
        for (int32_t i = 0; i < count; ++i) buffer[i] = value;
        break;
      }
      default: {  // a square wave with specials sprinkled in
        uint32_t period = m_in.Byte() % 64 + 1;
        for (int32_t i = 0; i < count; ++i)
          buffer[i] = next() % 32 == 0 ? kSamples[next() % 16] : ((i / period) % 2 ? 0.7f : -0.7f);
        break;
      }
    }
  }

  void Process(Model& m) {
    wbhost::Instance& inst = *m.instance;
    int32_t count;
    switch (m_in.Byte() % 6) {
      case 0:
        count = 1;
        break;
      case 1:
        count = m_in.Byte() % 8 + 1;
        break;
      case 2:
        count = 1 + static_cast<int32_t>(m_in.U32() % 16384);
        break;
      default:
        count = 1 + m_in.Byte() * 4;
        break;
    }
    int32_t offset = m_in.Byte() % 4 == 0 ? m_in.Byte() : 0;
    bool in_place = m_in.Byte() % 8 == 0;
    // Exactly as long as promised, so any access beyond is a finding.
    std::unique_ptr<float[]> input(new float[offset + count]);
    std::unique_ptr<float[]> output(in_place ? nullptr : new float[offset + count]);
    float* out = in_place ? input.get() : output.get();
    FillInput(input.get() + offset, count);
    for (int32_t i = 0; i < offset; ++i) out[i] = input[i] = 12345.0f;
    if (!in_place)
      for (int32_t i = 0; i < count; ++i) out[offset + i] = kUnwritten;

    inst.ConnectBuffer(PIN_INPUT, input.get());
    inst.ConnectBuffer(PIN_PITCH, out);

    // Expected: which events apply at which clock, the scale of each sample.
    std::vector<uint32_t> status_clocks;
    std::vector<int32_t> status_values;
    std::vector<std::pair<DeferredSlot*, uint32_t>> deferred;
    std::vector<uint8_t> per_octave(count);
    uint32_t current = m.clock;
    const uint32_t end = current + static_cast<uint32_t>(count);
    int32_t remaining = count, position = 0;
    for (;;) {
      // Measured as a distance from the clock, as the module does, so that a
      // block across the clock's wrap reaches events stamped before it.
      uint32_t piece = remaining;
      if (!m.events.empty() && m.events.front().time_stamp - current < piece)
        piece = m.events.front().time_stamp - current;
      for (uint32_t i = 0; i < piece; ++i) per_octave[position + i] = m.freq_scale == 1;
      position += piece;
      current += piece;
      remaining -= piece;
      if (remaining == 0 || m.events.empty()) break;
      QueuedEvent e = m.events.front();
      m.events.pop_front();
      if (e.type == EVENT_DEFERRED_CALL && e.slot != nullptr) deferred.push_back({e.slot, current});
      if (e.type == EVENT_PIN_STATUS && e.pin >= 0 && e.pin < m.pin_count) {
        m.statuses[e.pin] = e.status;
        if (e.pin == PIN_FREQ_SCALE) m.freq_scale = (m.freq_scale & ~0xFFFF) | (e.value & 0xFFFF);
        int32_t status = m.statuses[PIN_INPUT];
        if (m.statuses[PIN_OCTAVE] == STATUS_STREAMING ||
            m.statuses[PIN_FILTER_CUTOFF] == STATUS_STREAMING)
          status = STATUS_STREAMING;
        if (m.callback) {
          status_clocks.push_back(current);
          status_values.push_back(status);
        }
        if (e.status == STATUS_ONE_SHOT) m.statuses[e.pin] = STATUS_STATIC;
      }
    }

    inst.Host().calls.clear();
    g_block = {in_place ? nullptr : out + offset, count, m.clock};
    inst.Process(offset, count);
    g_block = {};
    CheckWords();

    m.clock = end;
    const std::vector<wbhost::HostCall> calls = inst.Host().CallsWith(HOST_PIN_STATUS);
    FUZZ_CHECK(calls.size() == status_clocks.size());
    for (size_t i = 0; i < calls.size(); ++i) {
      FUZZ_CHECK(calls[i].index == PIN_PITCH);
      FUZZ_CHECK(calls[i].pointer == status_clocks[i]);
      FUZZ_CHECK(calls[i].value == status_values[i]);
    }
    inst.Host().calls.clear();
    for (auto& [slot, clock] : deferred) {
      FUZZ_CHECK(slot->calls == 1);
      FUZZ_CHECK(!slot->clock_seen || slot->clock_at_call == clock);
      slot->calls = 2;  // marks it as checked: it must never run again
    }
    for (auto& slot : m_slots) FUZZ_CHECK(slot->calls == 0 || slot->calls == 2);

    if (!in_place)
      for (int32_t i = 0; i < offset; ++i) FUZZ_CHECK(Bits(out[i]) == Bits(12345.0f));
    if (m.sane) {
      for (int32_t i = 0; i < count; ++i) {
        float y = out[offset + i];
        FUZZ_CHECK(std::isfinite(y));
        if (per_octave[i]) {
          FUZZ_CHECK(y >= kTableLow && y <= kTableHigh);
        } else {
          FUZZ_CHECK(y >= 0.0f);
        }
      }
    }
  }

  void Resume(Model& m) {
    uint32_t clock = m.clock;
    switch (m_in.Byte() % 4) {
      case 0:
        clock += m_in.U32();  // any jump, wrapping included
        break;
      case 1:
        clock -= m_in.Byte();
        break;
      default:
        clock += m_in.Byte() * 16;
        break;
    }
    if (!m.callback) clock = 0;
    m.instance->Host().sample_clock = clock;
    m.instance->Resume();
    m.clock = clock;
    for (QueuedEvent& e : m.events) {
      if (e.time_stamp >= clock) break;
      e.time_stamp = clock;
    }
  }

  void Close(Model& m) {
    if (!m.instance) return;
    FUZZ_CHECK(m.instance->Close() == 1);
    CheckWords();
    m.instance.reset();
    m.events.clear();
    m.opened = false;
  }

  WBMainProc m_main;
  Reader& m_in;
  std::vector<Model> m_models;
  std::vector<std::unique_ptr<DeferredSlot>> m_slots;
  FpuControlWords m_words = kDefaultFpuControlWords;
};

WBMainProc g_main = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The sanitized module is built beside this binary.
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) std::abort();
  self[length] = '\0';
  std::string path(self);
  path = path.substr(0, path.rfind('/')) + "/Tonevolt.so";
  if (const char* override_path = std::getenv("TONEVOLT_FUZZ_MODULE")) path = override_path;
  static wbhost::ModuleLibrary library;
  std::string error;
  if (!library.Load(path, &error)) {
    std::fprintf(stderr, "tonevolt_fuzzer: %s\n", error.c_str());
    std::abort();
  }
  g_main = library.Main();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  Session(g_main, in).Run();
  return 0;
}
