// Benchmarks of Tonevolt.so driven through main and its record, as a host
// drives it: throughput per mode against the floor loop, silence at rest
// against a tone, the cost of an event, the cost of a first and a later open
// against the logarithms of a table, and 1000 instances against one. The
// summary at the end computes every ratio from this run's medians.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "Floor.h"
#include "TonevoltPins.h"
#include "WBHost.h"

namespace {

constexpr int32_t kBlock = 1024;
constexpr int32_t kSignalBlocks = 64;
constexpr int32_t kSignalLength = kBlock * kSignalBlocks;
constexpr double kSampleRate = 44100.0;
constexpr int32_t kManyInstances = 1000;

WBMainProc g_main = nullptr;

// The benchmark host: its clock starts at 0, it holds the module's own pin
// count, and it ignores what the module reports.
int32_t WB_CALL BenchHostCallback(WBModule_record*, int32_t, int32_t, int32_t, void*, int32_t) {
  return 0;
}

// About 1.5 s of a 440 Hz sine with a little noise, fixed seed.
const std::vector<float>& Signal() {
  static const std::vector<float> signal = [] {
    std::vector<float> s(kSignalLength);
    std::mt19937 noise(20260101);
    for (int32_t i = 0; i < kSignalLength; ++i) {
      double n = static_cast<double>(noise()) / 4294967296.0 * 2.0 - 1.0;
      s[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 440.0 * i / kSampleRate) + 0.01 * n);
    }
    return s;
  }();
  return signal;
}

int32_t Dispatch(WBModule_record* record, int32_t opcode, int32_t index = 0, int32_t value = 0,
                 void* pointer = nullptr) {
  return record->dispatcher(record, opcode, index, value, pointer, 0.0f);
}

void QueuePinEvent(WBModule_record* record, uint32_t time_stamp, int32_t pin, int32_t status,
                   int32_t value) {
  WbEvent event = wbhost::PinEvent(time_stamp, pin, status, value);
  Dispatch(record, DISPATCH_ADD_EVENT, 0, 0, &event);
}
int32_t FloatBits(float value) {
  int32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

void ConnectBuffer(WBModule_record* record, int32_t pin, float* buffer) {
  PinProperties properties;
  std::memset(&properties, 0, sizeof properties);
  Dispatch(record, DISPATCH_GET_PIN_PROPERTIES, pin, 0, &properties);
  std::memcpy(properties.variable, &buffer, sizeof buffer);
}

struct Mode {
  bool two_poles;
  bool volt_per_octave;
};

// Creates and opens an instance with its buffers connected and the input
// streaming. The mode's events take effect before the first sample.
WBModule_record* OpenInstance(Mode mode, const float* input, float* output) {
  WBModule_record* record = g_main(0, &BenchHostCallback);
  if (record == nullptr) return nullptr;
  Dispatch(record, DISPATCH_OPEN);
  ConnectBuffer(record, PIN_INPUT, const_cast<float*>(input));
  ConnectBuffer(record, PIN_PITCH, output);
  QueuePinEvent(record, 0, PIN_INPUT, STATUS_STREAMING, 0);
  QueuePinEvent(record, 0, PIN_FREQ_SCALE, STATUS_STATIC, mode.volt_per_octave ? 1 : 0);
  QueuePinEvent(record, 0, PIN_FILTER_ORDER, STATUS_STATIC, mode.two_poles ? 1 : 0);
  return record;
}

void CloseInstance(WBModule_record* record) { Dispatch(record, DISPATCH_CLOSE); }

void Process(WBModule_record* record, int32_t buffer_offset, int32_t sample_count) {
  record->process(record, buffer_offset, sample_count);
}

Mode ModeOf(const benchmark::State& state) { return {state.range(0) == 2, state.range(1) == 1}; }

// ------------------------------------------------------------------ floor

using FloorCall = void (*)(floor_loop::State&, const float*, const FpuControlWords&, const float*,
                           float*, int32_t);

FloorCall FloorFor(Mode mode) {
  using floor_loop::Call;
  if (mode.two_poles) return mode.volt_per_octave ? &Call<true, true> : &Call<true, false>;
  return mode.volt_per_octave ? &Call<false, true> : &Call<false, false>;
}

const floor_loop::PitchTable& Table() {
  static const floor_loop::PitchTable table;
  return table;
}

// A fresh floor state, its coefficients computed as the module's first call
// computes them.
floor_loop::State FreshFloor(Mode mode, const FpuControlWords& saved) {
  floor_loop::State state;
  if (mode.volt_per_octave) LoadFpuControlWords(TruncatingWords(saved));
  floor_loop::SetCoefficients(state);
  if (mode.volt_per_octave) LoadFpuControlWords(saved);
  return state;
}

// Runs the module and the floor over the signal twice, block by block, and
// compares every output bit.
bool FloorMatchesModule(Mode mode) {
  const std::vector<float>& signal = Signal();
  std::vector<float> module_out(kSignalLength), floor_out(kSignalLength);
  WBModule_record* record = OpenInstance(mode, signal.data(), module_out.data());
  const FpuControlWords saved = ReadFpuControlWords();
  floor_loop::State floor = FreshFloor(mode, saved);
  FloorCall call = FloorFor(mode);
  bool equal = true;
  for (int pass = 0; pass < 2; ++pass) {
    for (int32_t block = 0; block < kSignalBlocks; ++block) {
      const int32_t offset = block * kBlock;
      Process(record, offset, kBlock);
      call(floor, Table().entry, saved, signal.data() + offset, floor_out.data() + offset, kBlock);
    }
    equal = equal && std::memcmp(module_out.data(), floor_out.data(),
                                 sizeof(float) * module_out.size()) == 0;
  }
  CloseInstance(record);
  return equal;
}

// ------------------------------------------------------------- benchmarks

double ThreadCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Throughput: 1024-sample blocks through the module's process entry and the
// same blocks through the floor loop, walking the signal.
// The two are timed back to back (CPU time of this thread), so that the load
// of a shared machine falls on both alike and their ratio holds still.
void BM_Throughput(benchmark::State& state) {
  const Mode mode = ModeOf(state);
  const std::vector<float>& signal = Signal();
  std::vector<float> module_output(kSignalLength), floor_output(kSignalLength);
  WBModule_record* record = OpenInstance(mode, signal.data(), module_output.data());
  Process(record, 0, kBlock);  // applies the mode's events
  const FpuControlWords saved = ReadFpuControlWords();
  floor_loop::State floor = FreshFloor(mode, saved);
  FloorCall call = FloorFor(mode);
  const float* table = Table().entry;
  // Several blocks between clock reads, so that reading the clock (about
  // 0.4 us) weighs little on either side.
  constexpr int32_t kBlocksPerHalf = 16;
  double module_seconds = 0.0, floor_seconds = 0.0;
  int32_t first = 0;
  for (auto _ : state) {
    const double start = ThreadCpuSeconds();
    for (int32_t j = 0, block = first; j < kBlocksPerHalf; ++j, block = (block + 1) % kSignalBlocks)
      Process(record, block * kBlock, kBlock);
    benchmark::ClobberMemory();
    const double middle = ThreadCpuSeconds();
    for (int32_t j = 0, block = first; j < kBlocksPerHalf; ++j, block = (block + 1) % kSignalBlocks)
      call(floor, table, saved, signal.data() + block * kBlock,
           floor_output.data() + block * kBlock, kBlock);
    benchmark::ClobberMemory();
    const double end = ThreadCpuSeconds();
    module_seconds += middle - start;
    floor_seconds += end - middle;
    first = (first + kBlocksPerHalf) % kSignalBlocks;
  }
  const double samples = static_cast<double>(state.iterations()) * kBlocksPerHalf * kBlock;
  state.SetItemsProcessed(state.iterations() * 2 * kBlocksPerHalf * kBlock);
  state.counters["module_ns_per_sample"] = module_seconds / samples * 1e9;
  state.counters["floor_ns_per_sample"] = floor_seconds / samples * 1e9;
  CloseInstance(record);
}
BENCHMARK(BM_Throughput)->ArgNames({"poles", "oct"})->ArgsProduct({{1, 2}, {0, 1}});

// Silence after sound: the same instance on 16 blocks of the tone, then on 16
// blocks of zeros once its filter has settled (decayed as far as it goes, to
// the value it then holds for ever), each half timed with the thread's CPU
// clock. Between the two, untimed, kSettleBlocks blocks of zeros let the
// state decay through the denormals to where it stays.
constexpr int32_t kSettleBlocks = 40;

void BM_Silence(benchmark::State& state) {
  const Mode mode = ModeOf(state);
  const std::vector<float>& signal = Signal();
  std::vector<float> input(signal);
  input.resize(kSignalLength + kBlock, 0.0f);  // one block of zeros behind the tone
  std::vector<float> output(input.size());
  const int32_t silence = kSignalLength;  // offset of the zeros
  WBModule_record* record = OpenInstance(mode, input.data(), output.data());
  Process(record, 0, kBlock);  // applies the mode's events
  constexpr int32_t kBlocksPerHalf = 16;
  double tone_seconds = 0.0, silence_seconds = 0.0;
  int32_t first = 0;
  bool settled = true;
  for (auto _ : state) {
    const double start = ThreadCpuSeconds();
    for (int32_t j = 0, block = first; j < kBlocksPerHalf; ++j, block = (block + 1) % kSignalBlocks)
      Process(record, block * kBlock, kBlock);
    benchmark::ClobberMemory();
    const double middle = ThreadCpuSeconds();
    for (int32_t j = 0; j < kSettleBlocks; ++j) Process(record, silence, kBlock);
    // Settled: a block of zeros leaves one value throughout, the one before it.
    const float held = output[silence + kBlock - 1];
    const double restart = ThreadCpuSeconds();
    for (int32_t j = 0; j < kBlocksPerHalf; ++j) Process(record, silence, kBlock);
    benchmark::ClobberMemory();
    const double end = ThreadCpuSeconds();
    for (int32_t i = 0; i < kBlock; ++i)
      settled = settled && std::memcmp(&output[silence + i], &held, sizeof held) == 0;
    tone_seconds += middle - start;
    silence_seconds += end - restart;
    first = (first + kBlocksPerHalf) % kSignalBlocks;
  }
  if (!settled) state.SkipWithError("the output still moved after the settling blocks");
  const double samples = static_cast<double>(state.iterations()) * kBlocksPerHalf * kBlock;
  state.counters["tone_ns_per_sample"] = tone_seconds / samples * 1e9;
  state.counters["silence_ns_per_sample"] = silence_seconds / samples * 1e9;
  CloseInstance(record);
}
BENCHMARK(BM_Silence)->ArgNames({"poles", "oct"})->ArgsProduct({{1, 2}, {0, 1}});

// One pole; a "Filter Cutoff" change every k samples, each queued through the
// dispatcher before its block. The cutoff alternates, so every event also
// makes the next piece recompute the coefficients. Each iteration times an
// event-free block and then a block with events, back to back, so that both
// see the same load on this shared machine; ns_per_event is the difference
// per event (CPU time of this thread).
void BM_Events(benchmark::State& state) {
  const std::vector<float>& signal = Signal();
  std::vector<float> output(kSignalLength);
  WBModule_record* record =
      OpenInstance({false, state.range(0) == 1}, signal.data(), output.data());
  QueuePinEvent(record, 0, PIN_FILTER_CUTOFF, STATUS_STREAMING, FloatBits(40.0f));
  Process(record, 0, kBlock);
  uint32_t clock = kBlock;
  const int32_t k = static_cast<int32_t>(state.range(1));
  const int32_t events = kBlock / k;
  const int32_t cutoffs[2] = {FloatBits(41.0f), FloatBits(40.0f)};  // ends where it began
  int32_t block = 0;
  double plain_seconds = 0.0, with_events_seconds = 0.0;
  for (auto _ : state) {
    const double start = ThreadCpuSeconds();
    block = (block + 1) % kSignalBlocks;
    Process(record, block * kBlock, kBlock);
    clock += kBlock;
    benchmark::ClobberMemory();
    const double middle = ThreadCpuSeconds();
    block = (block + 1) % kSignalBlocks;
    for (int32_t i = 0; i < events; ++i) {
      QueuePinEvent(record, clock + static_cast<uint32_t>(i * k), PIN_FILTER_CUTOFF,
                    STATUS_STREAMING, cutoffs[i & 1]);
    }
    Process(record, block * kBlock, kBlock);
    clock += kBlock;
    benchmark::ClobberMemory();
    const double end = ThreadCpuSeconds();
    plain_seconds += middle - start;
    with_events_seconds += end - middle;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["events"] = events;
  state.counters["plain_ns"] = plain_seconds / n * 1e9;
  state.counters["events_ns"] = with_events_seconds / n * 1e9;
  state.counters["ns_per_event"] = (with_events_seconds - plain_seconds) / n / events * 1e9;
  CloseInstance(record);
}
BENCHMARK(BM_Events)->ArgNames({"oct", "k"})->ArgsProduct({{0, 1}, {1, 8, 64}});

// Create, open and close one instance under the control words every other
// benchmark runs with: an open after the first.
void BM_Open(benchmark::State& state) {
  for (auto _ : state) {
    WBModule_record* record = g_main(0, &BenchHostCallback);
    Dispatch(record, DISPATCH_OPEN);
    benchmark::DoNotOptimize(record);
    CloseInstance(record);
  }
}
BENCHMARK(BM_Open)->Unit(benchmark::kMicrosecond);

// The control words of the n-th floating-point state other than the one in
// force at start: MXCSR rounding, flush-to-zero and denormals-are-zero, x87
// rounding and precision (24, 53 or 64 bits), every exception masked. None
// of them is used anywhere else in this run.
bool OtherControlWords(int32_t n, FpuControlWords* words) {
  static const FpuControlWords start = ReadFpuControlWords();
  constexpr uint16_t kPrecisions[3] = {0x0000, 0x0200, 0x0300};
  int32_t seen = 0;
  for (uint32_t mx = 0; mx < 16; ++mx) {
    for (uint32_t x = 0; x < 12; ++x) {
      FpuControlWords candidate;
      candidate.mxcsr = kMxcsrExceptionMasks | (mx & 3u) << 13 | (mx & 4u ? 0x8000u : 0u) |
                        (mx & 8u ? 0x0040u : 0u);
      candidate.x87 = static_cast<uint16_t>(kX87ExceptionMasks | 0x0040u | (x & 3u) << 10 |
                                            kPrecisions[x >> 2]);
      if ((candidate.mxcsr & 0xE040u) == (start.mxcsr & 0xE040u) &&
          (candidate.x87 & 0x0F00u) == (start.x87 & 0x0F00u))
        continue;
      if (seen++ == n) {
        *words = candidate;
        return true;
      }
    }
  }
  return false;
}

// The first open under a control state: each iteration opens under a state
// no open of this run has met yet, so it builds that state's table. The open
// under the usual words after it (untimed) hands the process-wide words back.
void BM_OpenFirst(benchmark::State& state) {
  static int32_t next_state = 0;
  const FpuControlWords usual = ReadFpuControlWords();
  double seconds = 0.0;
  for (auto _ : state) {
    FpuControlWords words;
    if (!OtherControlWords(next_state++, &words)) {
      state.SkipWithError("no control state left that no open has met");
      break;
    }
    LoadFpuControlWords(words);
    const double start = ThreadCpuSeconds();
    WBModule_record* record = g_main(0, &BenchHostCallback);
    Dispatch(record, DISPATCH_OPEN);
    CloseInstance(record);
    const double end = ThreadCpuSeconds();
    LoadFpuControlWords(usual);
    CloseInstance(OpenInstance({false, false}, nullptr, nullptr));
    seconds += end - start;
  }
  state.counters["first_open_us"] = seconds / static_cast<double>(state.iterations()) * 1e6;
}
// 9 repetitions of 16 use 144 of the 191 other states.
BENCHMARK(BM_OpenFirst)->Iterations(16)->Repetitions(9)->Unit(benchmark::kMicrosecond);

// The floor of an open: the 11999 natural logarithms of its table.
void BM_LogFloor(benchmark::State& state) {
  static double logs[floor_loop::kTableSize];
  for (auto _ : state) {
    for (int32_t i = 1; i < floor_loop::kTableSize; ++i) logs[i] = std::log(static_cast<double>(i));
    benchmark::DoNotOptimize(logs);
  }
}
BENCHMARK(BM_LogFloor)->Unit(benchmark::kMicrosecond);

size_t HeapInUse() {
  struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// One pole: one instance processing kManyInstances blocks of its own two
// buffers, then kManyInstances instances, each with its own buffers,
// processing one block each in turn, the two halves timed back to back. The
// heap the many take is measured around their create and open.
void BM_Instances(benchmark::State& state) {
  const bool volt_per_octave = state.range(0) == 1;
  const std::vector<float>& signal = Signal();
  std::vector<float> input(static_cast<size_t>(kManyInstances) * kBlock);
  std::vector<float> output(input.size());
  for (int32_t j = 0; j < kManyInstances; ++j) {
    std::memcpy(&input[static_cast<size_t>(j) * kBlock], &signal[(j % kSignalBlocks) * kBlock],
                sizeof(float) * kBlock);
  }
  std::vector<float> alone_output(kBlock);
  WBModule_record* alone =
      OpenInstance({false, volt_per_octave}, input.data(), alone_output.data());
  std::vector<WBModule_record*> records;
  records.reserve(kManyInstances);

  const size_t heap_before = HeapInUse();
  for (int32_t j = 0; j < kManyInstances; ++j) {
    const size_t at = static_cast<size_t>(j) * kBlock;
    records.push_back(OpenInstance({false, volt_per_octave}, &input[at], &output[at]));
  }
  const size_t heap_after = HeapInUse();
  for (WBModule_record* record : records) Process(record, 0, kBlock);  // applies the mode
  Process(alone, 0, kBlock);

  double alone_seconds = 0.0, many_seconds = 0.0;
  for (auto _ : state) {
    const double start = ThreadCpuSeconds();
    for (int32_t j = 0; j < kManyInstances; ++j) Process(alone, 0, kBlock);
    benchmark::ClobberMemory();
    const double middle = ThreadCpuSeconds();
    for (WBModule_record* record : records) Process(record, 0, kBlock);
    benchmark::ClobberMemory();
    const double end = ThreadCpuSeconds();
    alone_seconds += middle - start;
    many_seconds += end - middle;
  }
  const double samples = static_cast<double>(state.iterations()) * kManyInstances * kBlock;
  state.SetItemsProcessed(state.iterations() * 2 * kManyInstances * kBlock);
  state.counters["one_ns_per_sample"] = alone_seconds / samples * 1e9;
  state.counters["many_ns_per_sample"] = many_seconds / samples * 1e9;
  state.counters["bytes_per_instance"] =
      static_cast<double>(heap_after - heap_before) / static_cast<double>(kManyInstances);
  for (WBModule_record* record : records) CloseInstance(record);
  CloseInstance(alone);
}
BENCHMARK(BM_Instances)->ArgNames({"oct"})->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- summary

struct Figure {
  double cpu_ns = 0.0;  // per iteration
  bool from_median = false;
  benchmark::UserCounters counters;
};

// Prints the usual console table and keeps each benchmark's median (or its
// only run) for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  explicit SummaryReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) {
        m_failed = true;
        continue;
      }
      const bool median = run.run_type == Run::RT_Aggregate;
      if (median && run.aggregate_name != "median") continue;
      Figure& figure = m_figures[run.run_name.str()];
      if (figure.from_median && !median) continue;
      const double to_ns = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      figure.cpu_ns = run.GetAdjustedCPUTime() * to_ns;
      figure.from_median = median;
      figure.counters = run.counters;
    }
  }

  const Figure* Find(const std::string& name) const {
    auto it = m_figures.find(name);
    return it == m_figures.end() ? nullptr : &it->second;
  }
  bool Failed() const { return m_failed; }

 private:
  std::map<std::string, Figure> m_figures;
  bool m_failed = false;
};

const char* Verdict(bool met) { return met ? "met" : "MISSED"; }

std::string ModeName(Mode mode) {
  return std::string(mode.two_poles ? "2 poles" : "1 pole") +
         (mode.volt_per_octave ? ", 1 V/oct" : ", 1 V/kHz");
}

std::string ModeArgs(Mode mode) {
  return std::string("/poles:") + (mode.two_poles ? "2" : "1") +
         "/oct:" + (mode.volt_per_octave ? "1" : "0");
}

const Mode kModes[] = {{false, false}, {false, true}, {true, false}, {true, true}};

// Every figure and ratio of this run; false if a target was missed.
bool PrintSummary(const SummaryReporter& r) {
  bool all_met = true;
  std::printf("\nSummary (median CPU time of each benchmark; targets in brackets)\n");

  std::printf("\nThroughput, 1024-sample blocks, ns per sample:\n");
  std::printf("  %-18s %8s %8s %13s\n", "mode", "module", "floor", "module/floor");
  double floor_ns[2][2] = {};
  for (Mode mode : kModes) {
    const Figure* run = r.Find("BM_Throughput" + ModeArgs(mode));
    if (run == nullptr) continue;
    const double module_ns = run->counters.at("module_ns_per_sample").value;
    const double floor = run->counters.at("floor_ns_per_sample").value;
    floor_ns[mode.two_poles][mode.volt_per_octave] = floor;
    const bool met = module_ns / floor <= 1.10;
    all_met = all_met && met;
    std::printf("  %-18s %8.3f %8.3f %8.3f [<= 1.10] %s\n", ModeName(mode).c_str(), module_ns,
                floor, module_ns / floor, Verdict(met));
  }

  std::printf(
      "\nEvents, 1 pole, a cutoff change every k samples: the cost per event\n"
      "(queueing and applying) above an event-free block timed back to back,\n"
      "against 16 samples of the floor of the same mode:\n");
  std::printf("  %-9s %4s %6s %10s %10s %10s %10s %7s\n", "scale", "k", "events", "plain ns",
              "events ns", "ns/event", "16 floor", "ratio");
  for (int oct = 0; oct < 2; ++oct) {
    const double budget = 16.0 * floor_ns[0][oct];
    for (int k : {1, 8, 64}) {
      const Figure* e =
          r.Find(std::string("BM_Events/oct:") + (oct ? "1" : "0") + "/k:" + std::to_string(k));
      if (e == nullptr) continue;
      const double per_event = e->counters.at("ns_per_event").value;
      const bool met = budget > 0.0 && per_event <= budget;
      all_met = all_met && met;
      std::printf("  %-9s %4d %6d %10.1f %10.1f %10.2f %10.2f %7.3f [<= 1] %s\n",
                  oct ? "1 V/oct" : "1 V/kHz", k, kBlock / k, e->counters.at("plain_ns").value,
                  e->counters.at("events_ns").value, per_event, budget,
                  budget > 0.0 ? per_event / budget : 0.0, Verdict(met));
    }
  }

  std::printf("\nSilence after the filter has settled, against the same instance on the tone:\n");
  std::printf("  %-18s %8s %8s %15s\n", "mode", "tone", "silence", "silence/tone");
  for (Mode mode : kModes) {
    const Figure* run = r.Find("BM_Silence" + ModeArgs(mode));
    if (run == nullptr) continue;
    const double tone_ns = run->counters.at("tone_ns_per_sample").value;
    const double silence_ns = run->counters.at("silence_ns_per_sample").value;
    const bool met = silence_ns / tone_ns <= 0.25;
    all_met = all_met && met;
    std::printf("  %-18s %8.3f %8.3f %8.3f [<= 0.25] %s\n", ModeName(mode).c_str(), tone_ns,
                silence_ns, silence_ns / tone_ns, Verdict(met));
  }

  const Figure* open = r.Find("BM_Open");
  const Figure* first_open = r.Find("BM_OpenFirst/iterations:16/repeats:9");
  const Figure* logs = r.Find("BM_LogFloor");
  if (logs != nullptr && first_open != nullptr) {
    const double first_ns = first_open->counters.at("first_open_us").value * 1e3;
    const bool met = first_ns / logs->cpu_ns <= 1.2;
    all_met = all_met && met;
    std::printf(
        "\nFirst open under a control state: create, open and close %.1f us; 11999 logarithms "
        "%.1f us; ratio %.3f [<= 1.20] %s\n",
        first_ns / 1e3, logs->cpu_ns / 1e3, first_ns / logs->cpu_ns, Verdict(met));
  }
  if (logs != nullptr && open != nullptr) {
    const bool met = open->cpu_ns / logs->cpu_ns <= 0.05;
    all_met = all_met && met;
    std::printf(
        "Later open: create, open and close %.2f us; ratio to the logarithms %.4f "
        "[<= 0.05] %s\n",
        open->cpu_ns / 1e3, open->cpu_ns / logs->cpu_ns, Verdict(met));
  }

  std::printf("\nInstances, 1 pole, one 1024-sample block each in turn:\n");
  std::printf("  %-9s %9s %10s %7s %10s %14s\n", "scale", "ns/s x1", "ns/s x1000", "ratio",
              "B/inst", "core @44100Hz");
  for (int oct = 0; oct < 2; ++oct) {
    const Figure* run = r.Find(std::string("BM_Instances/oct:") + (oct ? "1" : "0"));
    if (run == nullptr) continue;
    const double one_ns = run->counters.at("one_ns_per_sample").value;
    const double many_ns = run->counters.at("many_ns_per_sample").value;
    const double bytes = run->counters.at("bytes_per_instance").value;
    const double core = kManyInstances * kSampleRate * many_ns * 1e-9;
    const double max_ratio = oct ? 1.05 : 1.20;
    const bool met = many_ns / one_ns <= max_ratio && bytes <= 2048.0;
    all_met = all_met && met;
    std::printf("  %-9s %9.3f %10.3f %7.3f %10.0f %13.1f%% [ratio <= %.2f, <= 2048 B] %s\n",
                oct ? "1 V/oct" : "1 V/kHz", one_ns, many_ns, many_ns / one_ns, bytes, core * 100.0,
                max_ratio, Verdict(met));
  }
  return all_met;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  wbhost::ModuleLibrary library;
  std::string error;
  if (!library.Load(TONEVOLT_MODULE_PATH, &error)) {
    std::fprintf(stderr, "bench: %s\n", error.c_str());
    return 1;
  }
  g_main = library.Main();

  // A floor is only a floor if it computes what the module computes.
  bool floors_match = true;
  for (Mode mode : kModes) {
    const bool equal = FloorMatchesModule(mode);
    floors_match = floors_match && equal;
    std::printf("floor %-18s bit-equal to the module: %s\n", ModeName(mode).c_str(),
                equal ? "yes" : "NO");
  }
  if (!floors_match) return 1;

  // Colour only on a terminal, so that a saved run reads as plain text.
  SummaryReporter reporter(isatty(fileno(stdout)) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                  : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const bool all_met = PrintSummary(reporter);
  std::printf("\nTargets: %s\n", all_met ? "all met" : "some MISSED");
  benchmark::Shutdown();
  return reporter.Failed() ? 1 : 0;
}
