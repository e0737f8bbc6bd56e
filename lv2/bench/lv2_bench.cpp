// The plug-ins' cost per sample in each format, through the call a host
// makes for every block: the LV2 plug-ins' run(), instantiated by liblilv
// from the built bundle, and the CLAP and VST3 plug-ins' process, loaded
// from the built files by small hosts of our own. 1024-sample blocks walking
// the signal at the settings of BenchSettings.h, the same in every format;
// one iteration is one block. The plain CV plug-in, and the tracker at its
// defaults otherwise (lowest 41.2 Hz, threshold -50 dBFS, hold on), whose
// conditioning is engaged by the signal's tone.
#include <benchmark/benchmark.h>
#include <lilv/lilv.h>

#include <cstdio>
#include <vector>

#include "BenchSettings.h"
#include "BenchSignal.h"
#include "ClapBenchHost.h"
#include "Vst3BenchHost.h"
#include "lv2/Lv2Ports.h"

namespace {

const LilvPlugin* g_plugin = nullptr;
const LilvPlugin* g_tracker = nullptr;

void RunBlocks(benchmark::State& state, const LilvPlugin* plugin) {
  const std::vector<float>& signal = BenchSignal();
  std::vector<float> output(signal.size());
  const bool tracker = lilv_plugin_get_num_ports(plugin) > kPlainPortCount;
  float controls[tonevolt::kTrackerControlCount];  // by id
  for (const tonevolt::ControlInfo& control : tonevolt::kControls)
    controls[control.id] = control.Default(tracker);
  for (const BenchSetting& setting : BenchSettingsOf(state)) controls[setting.id] = setting.value;
  LilvInstance* instance = lilv_plugin_instantiate(plugin, kBenchRate, nullptr);
  lilv_instance_connect_port(instance, kPortCutoff, &controls[tonevolt::kControlCutoff]);
  lilv_instance_connect_port(instance, kPortOctave, &controls[tonevolt::kControlOctave]);
  lilv_instance_connect_port(instance, kPortScale, &controls[tonevolt::kControlScale]);
  lilv_instance_connect_port(instance, kPortOrder, &controls[tonevolt::kControlOrder]);
  float latency = 0.0f;
  std::vector<float> gate(kBenchBlock);
  if (tracker) {
    lilv_instance_connect_port(instance, kPortLowest, &controls[tonevolt::kControlLowest]);
    lilv_instance_connect_port(instance, kPortGate, gate.data());
    lilv_instance_connect_port(instance, kPortThreshold, &controls[tonevolt::kControlThreshold]);
    lilv_instance_connect_port(instance, kPortHold, &controls[tonevolt::kControlHold]);
    lilv_instance_connect_port(instance, kPortLatency, &latency);
  }
  lilv_instance_activate(instance);
  int32_t block = 0;
  for (auto _ : state) {
    // A host connects its buffers for every cycle.
    lilv_instance_connect_port(instance, kPortInput,
                               const_cast<float*>(signal.data()) + block * kBenchBlock);
    lilv_instance_connect_port(instance, kPortPitch, output.data() + block * kBenchBlock);
    lilv_instance_run(instance, kBenchBlock);
    block = (block + 1) % kBenchBlocks;
  }
  benchmark::DoNotOptimize(output.data());
  state.SetItemsProcessed(state.iterations() * kBenchBlock);
  lilv_instance_deactivate(instance);
  lilv_instance_free(instance);
}
void BM_RunPerBlock(benchmark::State& state) { RunBlocks(state, g_plugin); }
void BM_TrackerRunPerBlock(benchmark::State& state) { RunBlocks(state, g_tracker); }
BENCHMARK(BM_RunPerBlock)->Apply(BenchModes);
BENCHMARK(BM_TrackerRunPerBlock)->Apply(BenchModes);

// Host: ClapBenchHost or Vst3BenchHost.
template <class Host>
void ProcessBlocks(benchmark::State& state, bool tracker) {
  const std::vector<float>& signal = BenchSignal();
  std::vector<float> output(signal.size());
  std::vector<float> gate(kBenchBlock);
  Host host(tracker, BenchSettingsOf(state));
  if (!host.Ready()) {
    state.SkipWithError("the plug-in did not start");
    return;
  }
  int32_t block = 0;
  for (auto _ : state) {
    host.Process(signal.data() + block * kBenchBlock, output.data() + block * kBenchBlock,
                 tracker ? gate.data() : nullptr);
    block = (block + 1) % kBenchBlocks;
  }
  benchmark::DoNotOptimize(output.data());
  state.SetItemsProcessed(state.iterations() * kBenchBlock);
}
void BM_ClapProcessPerBlock(benchmark::State& state) { ProcessBlocks<ClapBenchHost>(state, false); }
void BM_ClapTrackerProcessPerBlock(benchmark::State& state) {
  ProcessBlocks<ClapBenchHost>(state, true);
}
void BM_Vst3ProcessPerBlock(benchmark::State& state) { ProcessBlocks<Vst3BenchHost>(state, false); }
void BM_Vst3TrackerProcessPerBlock(benchmark::State& state) {
  ProcessBlocks<Vst3BenchHost>(state, true);
}
BENCHMARK(BM_ClapProcessPerBlock)->Apply(BenchModes);
BENCHMARK(BM_ClapTrackerProcessPerBlock)->Apply(BenchModes);
BENCHMARK(BM_Vst3ProcessPerBlock)->Apply(BenchModes);
BENCHMARK(BM_Vst3TrackerProcessPerBlock)->Apply(BenchModes);

}  // namespace

int main(int argc, char** argv) {
  LilvWorld* world = lilv_world_new();
  LilvNode* bundle = lilv_new_file_uri(world, nullptr, TONEVOLT_LV2_BUNDLE);
  lilv_world_load_bundle(world, bundle);
  LilvNode* uri = lilv_new_uri(world, kCvUri);
  LilvNode* tracker_uri = lilv_new_uri(world, kTrackerCvUri);
  g_plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
  g_tracker = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), tracker_uri);
  if (g_plugin == nullptr || g_tracker == nullptr) {
    std::fprintf(stderr, "no plug-in in %s\n", TONEVOLT_LV2_BUNDLE);
    return 1;
  }
  if (!LoadClapPlugins(TONEVOLT_CLAP_PLUGIN)) {
    std::fprintf(stderr, "cannot load %s\n", TONEVOLT_CLAP_PLUGIN);
    return 1;
  }
  if (!LoadVst3Plugins(TONEVOLT_VST3_BINARY)) {
    std::fprintf(stderr, "cannot load %s\n", TONEVOLT_VST3_BINARY);
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  lilv_node_free(uri);
  lilv_node_free(tracker_uri);
  lilv_node_free(bundle);
  lilv_world_free(world);
  return 0;
}
