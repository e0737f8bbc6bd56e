// The LV2 plug-ins' cost per sample through run(), instantiated by liblilv
// from the built bundle: 1024-sample blocks walking the signal, cutoff
// 40 Hz, no octave shift. One iteration is one block. The plain CV plug-in,
// and the tracker's at its defaults (lowest 41.2 Hz, threshold -50 dBFS,
// hold on), whose conditioning is engaged by the signal's tone.
#include <benchmark/benchmark.h>
#include <lilv/lilv.h>

#include <cstdio>
#include <vector>

#include "BenchSignal.h"

namespace {

const LilvPlugin* g_plugin = nullptr;
const LilvPlugin* g_tracker = nullptr;

void RunBlocks(benchmark::State& state, const LilvPlugin* plugin) {
  const std::vector<float>& signal = BenchSignal();
  std::vector<float> output(signal.size());
  float controls[4] = {40.0f, 0.0f, static_cast<float>(state.range(1)),
                       static_cast<float>(state.range(0))};  // cutoff, octave, scale, order
  LilvInstance* instance = lilv_plugin_instantiate(plugin, kBenchRate, nullptr);
  for (uint32_t port = 2; port < 6; ++port) {
    lilv_instance_connect_port(instance, port, &controls[port - 2]);
  }
  // The tracker's: lowest, gate, threshold, hold, latency.
  float lowest = 41.2f, threshold = -50.0f, hold = 1.0f, latency = 0.0f;
  std::vector<float> gate(kBenchBlock);
  if (lilv_plugin_get_num_ports(plugin) > 6) {
    lilv_instance_connect_port(instance, 6, &lowest);
    lilv_instance_connect_port(instance, 7, gate.data());
    lilv_instance_connect_port(instance, 8, &threshold);
    lilv_instance_connect_port(instance, 9, &hold);
    lilv_instance_connect_port(instance, 10, &latency);
  }
  lilv_instance_activate(instance);
  int32_t block = 0;
  for (auto _ : state) {
    // A host connects its buffers for every cycle.
    lilv_instance_connect_port(instance, 0,
                               const_cast<float*>(signal.data()) + block * kBenchBlock);
    lilv_instance_connect_port(instance, 1, output.data() + block * kBenchBlock);
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

}  // namespace

int main(int argc, char** argv) {
  LilvWorld* world = lilv_world_new();
  LilvNode* bundle = lilv_new_file_uri(world, nullptr, TONEVOLT_LV2_BUNDLE);
  lilv_world_load_bundle(world, bundle);
  LilvNode* uri = lilv_new_uri(world, "https://tonevolt.invalid/lv2/tonevolt-cv");
  LilvNode* tracker_uri = lilv_new_uri(world, "https://tonevolt.invalid/lv2/tonevolt-tracker-cv");
  g_plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
  g_tracker = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), tracker_uri);
  if (g_plugin == nullptr || g_tracker == nullptr) {
    std::fprintf(stderr, "no plug-in in %s\n", TONEVOLT_LV2_BUNDLE);
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
