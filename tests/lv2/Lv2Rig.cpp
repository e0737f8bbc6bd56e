#include "Lv2Rig.h"

#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <random>

#include "AllocationCounter.h"
#include "Float32Files.h"

// ------------------------------------------------------- the host's world

LilvWorld* World() {
  static LilvWorld* const world = [] {
    LilvWorld* w = lilv_world_new();
    LilvNode* bundle = lilv_new_file_uri(w, nullptr, TONEVOLT_LV2_BUNDLE);
    lilv_world_load_bundle(w, bundle);
    lilv_node_free(bundle);
    return w;
  }();
  return world;
}

const LilvPlugin* FindPlugin(const char* uri) {
  LilvNode* node = lilv_new_uri(World(), uri);
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(World()), node);
  lilv_node_free(node);
  return plugin;
}

// ------------------------------------------------------------- settings

std::string Describe(const Settings& s) {
  char text[256];
  std::snprintf(text, sizeof text, "cutoff %g octave %g scale %g order %g", s.cutoff, s.octave,
                s.scale, s.order);
  const Settings plain = {};
  if (Bits(s.lowest) == Bits(plain.lowest) && Bits(s.threshold) == Bits(plain.threshold) &&
      Bits(s.hold) == Bits(plain.hold)) {
    return text;
  }
  char tracker[128];
  std::snprintf(tracker, sizeof tracker, " lowest %g threshold %g hold %g", s.lowest, s.threshold,
                s.hold);
  return std::string(text) + tracker;
}

// ---------------------------------------------------------------- signals

std::vector<float> TestSignal(double rate, uint32_t seed) {
  const size_t sweep = static_cast<size_t>(0.6 * rate), silence = static_cast<size_t>(1.2 * rate);
  const size_t tone = static_cast<size_t>(0.2 * rate), tail = static_cast<size_t>(0.3 * rate);
  std::vector<float> s;
  s.reserve(sweep + silence + tone + tail);
  std::mt19937 noise(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  double phase = 0.0;
  for (size_t i = 0; i < sweep; ++i) {
    const double hz = 30.0 * std::pow(300.0, static_cast<double>(i) / sweep);
    phase += hz / rate;
    s.push_back(static_cast<float>(0.8 * std::sin(2.0 * M_PI * phase) + 0.05 * uniform(noise)));
  }
  // clang-format off
  const float kSpecials[] = {
      0.0f, -0.0f, 0.0f, 1.0f, kNaN, -kNaN, -1.0f, 1e-40f, -1e-40f, 1e-23f, -0.0f, kInf, -1.0f,
      -kInf, 0.5f, kNaN, 0.0f, -0.0f, FromBits(0x00000001u), FromBits(0x80000001u), 3e38f, -3e38f,
      std::numeric_limits<float>::min(), -1e-30f};
  // clang-format on
  for (size_t k = 0; k < sizeof kSpecials / sizeof kSpecials[0]; ++k) {
    s[(k + 1) * sweep / 40] = kSpecials[k];
  }
  s.insert(s.end(), silence, 0.0f);
  for (size_t i = 0; i < tone; ++i) {
    float x = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 1000.0 * i / rate));
    // Every fourth stretch of 48 samples: denormals of alternating sign;
    // now and then a -0.0.
    if ((i / 48) % 4 == 3) x = (i % 2 == 0) ? 1e-40f : -2e-39f;
    if (i % 97 == 0) x = -0.0f;
    s.push_back(x);
  }
  s.insert(s.end(), tail, 0.0f);
  return s;
}

std::vector<float> Saws(double rate, const std::vector<Segment>& segments) {
  std::vector<float> s;
  double phase = 0.0;
  for (const Segment& segment : segments) {
    const size_t count = static_cast<size_t>(std::lround(segment.seconds * rate));
    // A sawtooth's RMS is its peak over the square root of 3.
    const double peak = std::sqrt(3.0) * std::pow(10.0, segment.level_db / 20.0);
    for (size_t i = 0; i < count; ++i) {
      if (segment.hz <= 0) {
        s.push_back(0.0f);
        continue;
      }
      phase += segment.hz / rate;
      phase -= std::floor(phase);
      s.push_back(static_cast<float>(peak * (2.0 * phase - 1.0)));
    }
  }
  return s;
}

std::vector<size_t> SegmentStarts(double rate, const std::vector<Segment>& segments) {
  std::vector<size_t> starts = {0};
  for (const Segment& segment : segments) {
    starts.push_back(starts.back() + static_cast<size_t>(std::lround(segment.seconds * rate)));
  }
  return starts;
}

// ------------------------------------------------------ the module's render

bool HaveReference() {
  std::ifstream driver(TONEVOLT_REFERENCE), module(TONEVOLT_MODULE);
  return driver.good() && module.good();
}

std::string WorkPath(const std::string& suffix) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name() + "." + suffix;
  std::replace(name.begin(), name.end(), '/', '_');
  return std::string(TONEVOLT_LV2_WORK_DIR) + "/" + name;
}

std::vector<float> ModuleRender(double rate, const std::vector<Change>& changes,
                                const std::vector<float>& input) {
  const std::string in = WorkPath("in.f32"), out = WorkPath("module.f32");
  const std::string settings = WorkPath("settings.txt");
  WriteFloats(in, input);
  {
    std::ofstream file(settings);
    for (const Change& c : changes) {
      char line[160];
      std::snprintf(line, sizeof line, "%u %a %d %d %d\n", c.at, c.applied.cutoff,
                    static_cast<int>(c.applied.octave), static_cast<int>(c.applied.scale),
                    static_cast<int>(c.applied.order));
      file << line;
    }
  }
  std::remove(out.c_str());
  char rate_text[64];
  std::snprintf(rate_text, sizeof rate_text, "%.9g", rate);
  const std::string command = std::string("'") + TONEVOLT_REFERENCE + "' '" + TONEVOLT_MODULE +
                              "' " + rate_text + " 512 '" + settings + "' '" + in + "' '" + out +
                              "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::vector<float> rendered;
  ReadFloats(out, &rendered);
  return rendered;
}

// ---------------------------------------------------------- the LV2 render

namespace {

// urid:map for every instance: one table, URIDs from 1.
LV2_URID MapUri(LV2_URID_Map_Handle, const char* uri) {
  static std::mutex mutex;
  static std::map<std::string, LV2_URID> urids;
  const std::lock_guard<std::mutex> lock(mutex);
  return urids.emplace(uri, static_cast<LV2_URID>(urids.size() + 1)).first->second;
}

LV2_URID_Map g_map = {nullptr, MapUri};
const LV2_Feature g_map_feature = {LV2_URID__map, &g_map};

constexpr size_t kSequenceBytes = 4096;

}  // namespace

Lv2Instance::Lv2Instance(const LilvPlugin* plugin, double rate, bool map_urids)
    : m_tracker(lilv_plugin_get_num_ports(plugin) == kTrackerPorts),
      m_sequence(kSequenceBytes / sizeof(uint64_t)) {
  const LV2_Feature* const mapped[] = {&g_map_feature, nullptr};
  const LV2_Feature* const unmapped[] = {nullptr};
  const LV2_Feature* const* features = map_urids ? mapped : unmapped;
  m_positions.reserve(16);
  const FpuControlWords own = ReadFpuControlWords();
  LoadFpuControlWords(kHostStates[0]);
  m_instance = lilv_plugin_instantiate(plugin, rate, features);
  LoadFpuControlWords(own);
  EXPECT_NE(m_instance, nullptr);
  for (uint32_t port = kCutoff; port <= kOrder; ++port) {
    lilv_instance_connect_port(m_instance, port, &m_controls[port - kCutoff]);
  }
  if (m_tracker) {
    lilv_instance_connect_port(m_instance, kLowest, &m_controls[4]);
    lilv_instance_connect_port(m_instance, kThreshold, &m_controls[5]);
    lilv_instance_connect_port(m_instance, kHold, &m_controls[6]);
    lilv_instance_connect_port(m_instance, kLatency, &m_latency);
    WriteSequence();
    lilv_instance_connect_port(m_instance, kPosition, m_sequence.data());
  }
}

void Lv2Instance::SetPosition(int64_t frame, float speed, uint32_t at) {
  if (m_tracker) m_positions.push_back({frame, speed, at});
}

void Lv2Instance::WriteSequence() {
  LV2_Atom_Forge forge;
  lv2_atom_forge_init(&forge, &g_map);
  lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(m_sequence.data()), kSequenceBytes);
  LV2_Atom_Forge_Frame sequence, object;
  lv2_atom_forge_sequence_head(&forge, &sequence, 0);
  for (const Position& position : m_positions) {
    lv2_atom_forge_frame_time(&forge, position.at);
    lv2_atom_forge_object(&forge, &object, 0, MapUri(nullptr, LV2_TIME__Position));
    lv2_atom_forge_key(&forge, MapUri(nullptr, LV2_TIME__frame));
    lv2_atom_forge_long(&forge, position.frame);
    lv2_atom_forge_key(&forge, MapUri(nullptr, LV2_TIME__speed));
    lv2_atom_forge_float(&forge, position.speed);
    lv2_atom_forge_pop(&forge, &object);
  }
  lv2_atom_forge_pop(&forge, &sequence);
  m_positions.clear();
}

Lv2Instance::~Lv2Instance() {
  if (m_instance != nullptr) lilv_instance_free(m_instance);
}

void Lv2Instance::Activate() {
  const FpuControlWords own = ReadFpuControlWords();
  LoadFpuControlWords(kHostStates[2]);
  lilv_instance_activate(m_instance);
  LoadFpuControlWords(own);
}

void Lv2Instance::Deactivate() { lilv_instance_deactivate(m_instance); }

void Lv2Instance::Set(const Settings& s) {
  m_controls[0] = s.cutoff;
  m_controls[1] = s.octave;
  m_controls[2] = s.scale;
  m_controls[3] = s.order;
  m_controls[4] = s.lowest;
  m_controls[5] = s.threshold;
  m_controls[6] = s.hold;
}

void Lv2Instance::Run(const float* input, float* output, uint32_t count,
                      const FpuControlWords& host, RunChecks* checks, float* gate) {
  lilv_instance_connect_port(m_instance, kInput, const_cast<float*>(input));
  lilv_instance_connect_port(m_instance, kPitch, output);
  if (m_tracker) {
    if (gate == nullptr) {
      m_spare_gate.resize(std::max<size_t>(m_spare_gate.size(), count));
      gate = m_spare_gate.data();
    }
    lilv_instance_connect_port(m_instance, kGate, gate);
    WriteSequence();
  }
  const FpuControlWords own = ReadFpuControlWords();
  allocation_counter::Start();
  LoadFpuControlWords(host);
  lilv_instance_run(m_instance, count);
  const FpuControlWords after = ReadFpuControlWords();
  LoadFpuControlWords(own);
  checks->allocations += allocation_counter::Stop();
  ++checks->runs;
  if (after.x87 != host.x87 || after.mxcsr != host.mxcsr) {
    if (checks->state_changes++ == 0) {
      char text[160];
      std::snprintf(text, sizeof text, "x87 %04x -> %04x, MXCSR %08x -> %08x", host.x87, after.x87,
                    host.mxcsr, after.mxcsr);
      checks->first_state_change = text;
    }
  }
}

namespace {

// Block lengths from 1 to 16383 samples, spread evenly over their
// logarithm, with a zero-length run now and then.
class BlockLengths {
 public:
  explicit BlockLengths(uint32_t seed) : m_random(seed) {}
  uint32_t Next() {
    if (m_random() % 50 == 0) return 0;
    const uint32_t power = m_random() % 14;
    return (1u << power) + m_random() % (1u << power);
  }

 private:
  std::mt19937 m_random;
};

}  // namespace

std::vector<float> Lv2Render(Lv2Instance& instance, const std::vector<Change>& changes,
                             const std::vector<float>& input, uint32_t seed, bool in_place,
                             RunChecks* checks, std::vector<float>* gate, const int64_t* timeline) {
  std::vector<float> output(input.size(), FromBits(0x7fbadbadu));
  if (in_place) output = input;
  if (gate != nullptr) gate->assign(input.size(), FromBits(0x7fbadbadu));
  BlockLengths lengths(seed);
  size_t next_change = 0, state = seed;
  for (uint32_t done = 0; done < input.size();) {
    uint32_t end = static_cast<uint32_t>(input.size());
    while (next_change < changes.size() && changes[next_change].at <= done) {
      instance.Set(changes[next_change++].ports);
    }
    if (next_change < changes.size()) end = changes[next_change].at;
    const uint32_t count = std::min(lengths.Next(), end - done);
    if (timeline != nullptr) instance.SetPosition(*timeline + done, 1.0f);
    const float* in = in_place ? output.data() + done : input.data() + done;
    instance.Run(in, output.data() + done, count,
                 kHostStates[state++ % (sizeof kHostStates / sizeof kHostStates[0])], checks,
                 gate != nullptr ? gate->data() + done : nullptr);
    done += count;
  }
  return output;
}

// --------------------------------------------------------------- checks

int64_t FirstDifference(const std::vector<float>& a, const std::vector<float>& b, int64_t* count) {
  int64_t first = -1;
  *count = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (Bits(a[i]) != Bits(b[i])) {
      if (first < 0) first = static_cast<int64_t>(i);
      ++*count;
    }
  }
  if (a.size() != b.size() && first < 0) first = static_cast<int64_t>(std::min(a.size(), b.size()));
  return first;
}

void ExpectSameBits(const std::vector<float>& module, const std::vector<float>& lv2,
                    const std::string& what) {
  ASSERT_EQ(module.size(), lv2.size()) << what;
  int64_t differing = 0;
  const int64_t first = FirstDifference(module, lv2, &differing);
  if (first >= 0) {
    ADD_FAILURE() << what << ": " << differing << " of " << module.size()
                  << " samples differ; first at " << first << ": module " << std::hex
                  << Bits(module[first]) << ", LV2 " << Bits(lv2[first]);
  }
}

void ExpectRealTimeCitizen(const RunChecks& checks, const std::string& what) {
  EXPECT_EQ(checks.allocations, 0) << what << ": heap calls inside " << checks.runs << " run()s";
  EXPECT_EQ(checks.state_changes, 0)
      << what << ": run() left the thread's control state changed, first "
      << checks.first_state_change;
}

namespace {

// Samples compared bit for bit in this process, for the closing summary.
std::atomic<int64_t> g_compared_cases{0}, g_compared_samples{0};

class ComparisonSummary : public ::testing::Environment {
 public:
  void TearDown() override {
    if (g_compared_cases > 0) {
      std::printf(
          "[ lv2 ] compared bit for bit with the 32-bit module: %lld renders, %lld samples\n",
          static_cast<long long>(g_compared_cases.load()),
          static_cast<long long>(g_compared_samples.load()));
    }
  }
};
const auto* const g_summary = ::testing::AddGlobalTestEnvironment(new ComparisonSummary);

}  // namespace

void CompareWithModule(double rate, const std::vector<Change>& changes,
                       const std::vector<float>& input, uint32_t seed,
                       const char* const (&uris)[2]) {
  const std::vector<float> module = ModuleRender(rate, changes, input);
  ASSERT_EQ(module.size(), input.size());
  for (const char* uri : uris) {
    const bool in_place = uri == kAudioUri || uri == kTrackerAudioUri;
    const std::string what = std::string(uri) + (in_place ? " (in place)" : "") + " at " +
                             std::to_string(rate) + " Hz, " + Describe(changes[0].ports);
    Lv2Instance instance(FindPlugin(uri), rate);
    // As hosts do: the controls in place before activation, which reads
    // the tracker's `lowest`.
    instance.Set(changes[0].ports);
    instance.Activate();
    RunChecks checks;
    std::vector<float> gate;
    const std::vector<float> lv2 = Lv2Render(instance, changes, input, seed++, in_place, &checks,
                                             instance.Tracker() ? &gate : nullptr);
    ExpectSameBits(module, lv2, what);
    ExpectRealTimeCitizen(checks, what);
    // Only a tracker switched off matches the module: its gate stays shut.
    for (size_t i = 0; i < gate.size(); ++i) {
      if (gate[i] != 0.0f) {
        ADD_FAILURE() << what << ": the gate of a tracker switched off reads " << gate[i]
                      << " at sample " << i;
        break;
      }
    }
    ++g_compared_cases;
    g_compared_samples += static_cast<int64_t>(input.size());
  }
}

// ------------------------------------------------------------ the tracker

std::vector<std::pair<size_t, size_t>> OpenStretches(const std::vector<float>& gate) {
  std::vector<std::pair<size_t, size_t>> stretches;
  bool open = false;
  for (size_t i = 0; i < gate.size(); ++i) {
    EXPECT_TRUE(gate[i] == 0.0f || gate[i] == 1.0f) << "gate " << gate[i] << " at " << i;
    if ((gate[i] == 1.0f) == open) continue;
    open = !open;
    if (open)
      stretches.push_back({i, gate.size()});
    else
      stretches.back().second = i;
  }
  return stretches;
}

TrackerRender RenderTracker(const char* uri, double rate, const std::vector<Change>& changes,
                            const std::vector<float>& input, uint32_t seed, RunChecks* checks,
                            const int64_t* timeline, bool map_urids) {
  Lv2Instance instance(FindPlugin(uri), rate, map_urids);
  instance.Set(changes[0].ports);
  instance.Activate();
  TrackerRender render;
  render.pitch = Lv2Render(instance, changes, input, seed, uri == kTrackerAudioUri, checks,
                           &render.gate, timeline);
  EXPECT_EQ(instance.Latency(), 0.0f) << uri << ": the latency port";
  return render;
}

// ------------------------------------------------------ the tool's files

void WriteFloatWav(const std::string& path, const std::vector<float>& samples, uint32_t rate) {
  auto u32 = [](std::ofstream& out, uint32_t v) { out.write(reinterpret_cast<char*>(&v), 4); };
  auto u16 = [](std::ofstream& out, uint16_t v) { out.write(reinterpret_cast<char*>(&v), 2); };
  const uint32_t data = static_cast<uint32_t>(samples.size() * sizeof(float));
  std::ofstream out(path, std::ios::binary);
  out.write("RIFF", 4);
  u32(out, 36 + data);
  out.write("WAVEfmt ", 8);
  u32(out, 16);
  u16(out, 3);  // IEEE float
  u16(out, 1);
  u32(out, rate);
  u32(out, rate * 4);
  u16(out, 4);
  u16(out, 32);
  out.write("data", 4);
  u32(out, data);
  out.write(reinterpret_cast<const char*>(samples.data()), data);
}

std::vector<float> ReadFloatWavData(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (size_t at = 12; at + 8 <= bytes.size();) {
    uint32_t size = 0;
    std::memcpy(&size, &bytes[at + 4], 4);
    if (std::memcmp(&bytes[at], "data", 4) == 0) {
      std::vector<float> samples(std::min<size_t>(size, bytes.size() - at - 8) / sizeof(float));
      std::memcpy(samples.data(), &bytes[at + 8], samples.size() * sizeof(float));
      return samples;
    }
    at += 8 + size + (size & 1);
  }
  ADD_FAILURE() << path << " has no data chunk";
  return {};
}
