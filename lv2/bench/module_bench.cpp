// The 32-bit module's cost per sample through its process entry, driven as
// a host drives it: 1024-sample blocks walking the signal, input streaming,
// cutoff 40 Hz, no octave shift. One iteration is one block.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSignal.h"
#include "TonevoltPins.h"
#include "WBHost.h"

namespace {

wbhost::ModuleLibrary g_library;

void BM_RunPerBlock(benchmark::State& state) {
  const std::vector<float>& signal = BenchSignal();
  std::vector<float> output(signal.size());
  wbhost::Instance instance;
  instance.Create(g_library.Main());
  instance.Host().record_calls = false;
  instance.SetSampleRate(static_cast<float>(kBenchRate));
  instance.SetBlockSize(kBenchBlock);
  instance.Open();
  instance.ConnectBuffer(PIN_INPUT, const_cast<float*>(signal.data()));
  instance.ConnectBuffer(PIN_PITCH, output.data());
  instance.AddPinEvent(0, PIN_INPUT, STATUS_STREAMING, 0);
  instance.AddPinEvent(0, PIN_FILTER_ORDER, STATUS_STATIC, state.range(0) == 2 ? 1 : 0);
  instance.AddPinEvent(0, PIN_FREQ_SCALE, STATUS_STATIC, state.range(1) == 1 ? 1 : 0);
  int32_t block = 0;
  for (auto _ : state) {
    instance.Process(block * kBenchBlock, kBenchBlock);
    block = (block + 1) % kBenchBlocks;
  }
  benchmark::DoNotOptimize(output.data());
  state.SetItemsProcessed(state.iterations() * kBenchBlock);
}
BENCHMARK(BM_RunPerBlock)->Apply(BenchModes);

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  if (!g_library.Load(TONEVOLT_MODULE_PATH, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
