// A test host on liblilv: loads the built bundle, checks the description
// hosts read, and renders signals through both plug-ins as a real-time host
// would (random block lengths, a hostile floating-point state on the thread
// before every run(), heap calls counted inside run()), comparing every
// output bit with the 32-bit module's render of the same input and settings.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/core/lv2.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "AllocationCounter.h"
#include "FloatBits.h"
#include "FpuControl.h"
#include "ScalePoints.h"

namespace {

const char kCvUri[] = "https://tonevolt.invalid/lv2/tonevolt-cv";
const char kAudioUri[] = "https://tonevolt.invalid/lv2/tonevolt-audio";
const char* const kPluginUris[] = {kCvUri, kAudioUri};

// Port indices, as the bundle numbers them (the description test checks them).
constexpr uint32_t kInput = 0, kPitch = 1, kCutoff = 2, kOctave = 3, kScale = 4, kOrder = 5;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const float kSignalingNaN = FromBits(0x7fa00000u);

// ------------------------------------------------------- the host's world

// One lilv world holding the built bundle alone (no installed copy).
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

// ------------------------------------------------- control state of a host

// What a host thread may have in force when it calls run(): flush-to-zero,
// denormals-are-zero, other rounding modes, another x87 precision and
// rounding, exception flags already raised, even exceptions unmasked.
constexpr uint32_t kFtz = 0x8000, kDaz = 0x0040, kRoundUp = 0x4000, kRoundDown = 0x2000;
constexpr uint32_t kRoundTowardZero = 0x6000, kInvalidMask = 0x0080, kZeroDivideMask = 0x0200;
const FpuControlWords kHostStates[] = {
    {0x0A7F, 0x1F80 | kFtz | kDaz | kRoundUp},               // round up, 53-bit x87
    {0x0A7F, 0x1F80 | kFtz | kDaz | kRoundUp | 0x0021},      // ... with flags raised
    {0x067F, 0x1F80 | kDaz | kRoundDown},                    // round down, DAZ alone
    {0x0E7F, 0x1F80 | kFtz | kRoundTowardZero},              // truncating, FTZ alone
    {0x037E, (0x1F80 & ~(kInvalidMask | kZeroDivideMask))},  // invalid, divide traps on
    kDefaultFpuControlWords,                                 // a process's default
};

// ------------------------------------------------------------- settings

// Settings in the ports' units: cutoff Hz, octave -3..+3, scale 0 (1 V/kHz)
// or 1 (1 V/oct), order 1 or 2 poles.
struct Settings {
  float cutoff;
  float octave;
  float scale;
  float order;
};

// Settings that take effect at a sample.
struct Change {
  uint32_t at;
  Settings ports;    // what the host writes into the control ports
  Settings applied;  // what the module is given at that sample
};

std::string Describe(const Settings& s) {
  char text[128];
  std::snprintf(text, sizeof text, "cutoff %g octave %g scale %g order %g", s.cutoff, s.octave,
                s.scale, s.order);
  return text;
}

// ---------------------------------------------------------------- signals

// A test signal at a rate: an exponential sweep with noise and every kind of
// special sample, a long silence in which the filters decay through the
// denormal range, a tone with denormal and sign-of-zero crossings, and
// silence again. Its samples are fixed data for both renders.
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

// ------------------------------------------------------ the module's render

bool HaveReference() {
  std::ifstream driver(TONEVOLT_REFERENCE), module(TONEVOLT_MODULE);
  return driver.good() && module.good();
}

#define SKIP_WITHOUT_REFERENCE()                                                  \
  if (!HaveReference())                                                           \
  GTEST_SKIP() << "no 32-bit reference (" TONEVOLT_REFERENCE ", " TONEVOLT_MODULE \
                  "): build the linux-x86 preset first (scripts/test.sh does)"

void WriteFloats(const std::string& path, const std::vector<float>& samples) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(samples.data()),
            static_cast<std::streamsize>(samples.size() * sizeof(float)));
}

std::vector<float> ReadFloats(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
}

// A file of the running test's own in the test's work directory.
std::string WorkPath(const std::string& suffix) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name() + "." + suffix;
  std::replace(name.begin(), name.end(), '/', '_');
  return std::string(TONEVOLT_LV2_WORK_DIR) + "/" + name;
}

// The 32-bit module's output for input with these changes, the first at 0,
// in host blocks of 512 samples.
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
  return ReadFloats(out);
}

// ---------------------------------------------------------- the LV2 render

struct RunChecks {
  int64_t runs = 0;
  int64_t allocations = 0;    // heap calls made inside run()
  int64_t state_changes = 0;  // run() calls that left the thread's state changed
  std::string first_state_change;
};

// One instance of a plug-in, driven as a host drives it.
class Lv2Instance {
 public:
  Lv2Instance(const LilvPlugin* plugin, double rate) {
    const LV2_Feature* const features[] = {nullptr};
    const FpuControlWords own = ReadFpuControlWords();
    LoadFpuControlWords(kHostStates[0]);
    m_instance = lilv_plugin_instantiate(plugin, rate, features);
    LoadFpuControlWords(own);
    EXPECT_NE(m_instance, nullptr);
    for (uint32_t port = kCutoff; port <= kOrder; ++port) {
      lilv_instance_connect_port(m_instance, port, &m_controls[port - kCutoff]);
    }
  }
  ~Lv2Instance() {
    if (m_instance != nullptr) lilv_instance_free(m_instance);
  }
  Lv2Instance(const Lv2Instance&) = delete;
  Lv2Instance& operator=(const Lv2Instance&) = delete;

  // Hosts instantiate and activate from any thread, in any control state.
  void Activate() {
    const FpuControlWords own = ReadFpuControlWords();
    LoadFpuControlWords(kHostStates[2]);
    lilv_instance_activate(m_instance);
    LoadFpuControlWords(own);
  }
  void Deactivate() { lilv_instance_deactivate(m_instance); }

  void Set(const Settings& s) {
    m_controls[0] = s.cutoff;
    m_controls[1] = s.octave;
    m_controls[2] = s.scale;
    m_controls[3] = s.order;
  }

  // One run() on these buffers under a host state, checked as a real-time
  // host needs: nothing allocated, the thread's state as it was.
  void Run(const float* input, float* output, uint32_t count, const FpuControlWords& host,
           RunChecks* checks) {
    lilv_instance_connect_port(m_instance, kInput, const_cast<float*>(input));
    lilv_instance_connect_port(m_instance, kPitch, output);
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
        std::snprintf(text, sizeof text, "x87 %04x -> %04x, MXCSR %08x -> %08x", host.x87,
                      after.x87, host.mxcsr, after.mxcsr);
        checks->first_state_change = text;
      }
    }
  }

 private:
  LilvInstance* m_instance = nullptr;
  float m_controls[4] = {40.0f, 0.0f, 0.0f, 1.0f};
};

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

// Renders input through an activated instance: each change applies at the
// first sample of the run() that starts at it; blocks are random between
// changes; the host state before each run() cycles through kHostStates.
// In place, input and output share one buffer.
std::vector<float> Lv2Render(Lv2Instance& instance, const std::vector<Change>& changes,
                             const std::vector<float>& input, uint32_t seed, bool in_place,
                             RunChecks* checks) {
  std::vector<float> output(input.size(), FromBits(0x7fbadbadu));
  if (in_place) output = input;
  BlockLengths lengths(seed);
  size_t next_change = 0, state = seed;
  for (uint32_t done = 0; done < input.size();) {
    uint32_t end = static_cast<uint32_t>(input.size());
    while (next_change < changes.size() && changes[next_change].at <= done) {
      instance.Set(changes[next_change++].ports);
    }
    if (next_change < changes.size()) end = changes[next_change].at;
    const uint32_t count = std::min(lengths.Next(), end - done);
    const float* in = in_place ? output.data() + done : input.data() + done;
    instance.Run(in, output.data() + done, count,
                 kHostStates[state++ % (sizeof kHostStates / sizeof kHostStates[0])], checks);
    done += count;
  }
  return output;
}

// The first sample where two renders differ, or -1; counts differing samples.
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

// Samples compared bit for bit in this process, for the closing summary.
std::atomic<int64_t> g_compared_cases{0}, g_compared_samples{0};

// Renders through both plug-ins, each with its own block pattern (one in
// place), and compares each with the module's render.
void CompareWithModule(double rate, const std::vector<Change>& changes,
                       const std::vector<float>& input, uint32_t seed) {
  const std::vector<float> module = ModuleRender(rate, changes, input);
  ASSERT_EQ(module.size(), input.size());
  for (const char* uri : kPluginUris) {
    const bool in_place = uri == kAudioUri;
    const std::string what = std::string(uri) + (in_place ? " (in place)" : "") + " at " +
                             std::to_string(rate) + " Hz, " + Describe(changes[0].ports);
    Lv2Instance instance(FindPlugin(uri), rate);
    instance.Activate();
    RunChecks checks;
    const std::vector<float> lv2 = Lv2Render(instance, changes, input, seed++, in_place, &checks);
    ExpectSameBits(module, lv2, what);
    ExpectRealTimeCitizen(checks, what);
    ++g_compared_cases;
    g_compared_samples += static_cast<int64_t>(input.size());
  }
}

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

// ------------------------------------------------------------ description

// What hosts read and save by: both plug-ins, the same ports by symbol and
// index, only the output's class differing.
TEST(Lv2Description, BothPluginsCarryThePublishedPorts) {
  struct Port {
    const char* symbol;
    bool output;
    const char* kind;  // "audio", "control", or "pitch" for the output's class
    float minimum, maximum, fallback;
    std::vector<std::pair<float, std::string>> points;
  };
  const Port kPorts[] = {
      {"input", false, "audio", 0, 0, 0, {}},
      {"pitch", true, "pitch", 0, 0, 0, {}},
      {"cutoff", false, "control", 10.0f, 5000.0f, 40.0f, {}},
      {"octave",
       false,
       "control",
       -3,
       3,
       0,
       {{-3, "-3"}, {-2, "-2"}, {-1, "-1"}, {0, "0"}, {1, "+1"}, {2, "+2"}, {3, "+3"}}},
      {"scale", false, "control", 0, 1, 0, {{0, "1 Volt/kHz"}, {1, "1 Volt/Octave"}}},
      {"order", false, "control", 1, 2, 1, {{1, "1-Pole"}, {2, "2-Pole"}}},
  };
  LilvWorld* world = World();
  LilvNode* audio = lilv_new_uri(world, LV2_CORE__AudioPort);
  LilvNode* cv = lilv_new_uri(world, LV2_CORE__CVPort);
  LilvNode* control = lilv_new_uri(world, LV2_CORE__ControlPort);
  LilvNode* output = lilv_new_uri(world, LV2_CORE__OutputPort);
  LilvNode* input = lilv_new_uri(world, LV2_CORE__InputPort);
  LilvNode* converter = lilv_new_uri(world, LV2_CORE__ConverterPlugin);
  LilvNode* rdf_type = lilv_new_uri(world, "http://www.w3.org/1999/02/22-rdf-syntax-ns#type");
  LilvNode* logarithmic = lilv_new_uri(world, "http://lv2plug.in/ns/ext/port-props#logarithmic");
  LilvNode* enumeration = lilv_new_uri(world, LV2_CORE__enumeration);
  LilvNode* integer = lilv_new_uri(world, LV2_CORE__integer);

  for (const char* uri : kPluginUris) {
    SCOPED_TRACE(uri);
    const LilvPlugin* plugin = FindPlugin(uri);
    ASSERT_NE(plugin, nullptr);
    ASSERT_TRUE(lilv_plugin_verify(plugin));
    LilvNodes* types = lilv_plugin_get_value(plugin, rdf_type);
    EXPECT_TRUE(lilv_nodes_contains(types, converter));
    lilv_nodes_free(types);
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin), 6u);
    std::vector<float> minimum(6), maximum(6), fallback(6);
    lilv_plugin_get_port_ranges_float(plugin, minimum.data(), maximum.data(), fallback.data());

    for (uint32_t index = 0; index < 6; ++index) {
      const Port& want = kPorts[index];
      SCOPED_TRACE(want.symbol);
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
      ASSERT_NE(port, nullptr);
      EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), want.symbol);
      EXPECT_TRUE(lilv_port_is_a(plugin, port, want.output ? output : input));
      const std::string kind = want.kind;
      const bool is_cv = lilv_port_is_a(plugin, port, cv);
      const bool is_audio = lilv_port_is_a(plugin, port, audio);
      if (kind == "pitch") {
        EXPECT_EQ(is_cv, uri == kCvUri);
        EXPECT_EQ(is_audio, uri == kAudioUri);
      } else {
        EXPECT_EQ(is_audio, kind == "audio");
        EXPECT_FALSE(is_cv);
        EXPECT_EQ(lilv_port_is_a(plugin, port, control), kind == "control");
      }
      if (kind != "control") continue;
      EXPECT_EQ(minimum[index], want.minimum);
      EXPECT_EQ(maximum[index], want.maximum);
      EXPECT_EQ(fallback[index], want.fallback);
      EXPECT_EQ(lilv_port_has_property(plugin, port, logarithmic), want.points.empty());
      EXPECT_EQ(lilv_port_has_property(plugin, port, enumeration), !want.points.empty());
      EXPECT_EQ(lilv_port_has_property(plugin, port, integer), !want.points.empty());
      EXPECT_EQ(ScalePoints(plugin, port), want.points);
    }
  }
  for (LilvNode* node : {audio, cv, control, output, input, converter, rdf_type, logarithmic,
                         enumeration, integer}) {
    lilv_node_free(node);
  }
}

// ------------------------------------------------- the module's bits, live

struct RenderCase {
  double rate;
  Settings settings;
};

void PrintTo(const RenderCase& c, std::ostream* out) {
  *out << c.rate << " Hz, " << Describe(c.settings);
}

class Lv2MatchesModule : public ::testing::TestWithParam<RenderCase> {};

// Constant settings at sample 0: the module's output, bit for bit, whatever
// the block lengths and the host thread's state.
TEST_P(Lv2MatchesModule, ForTheWholeSignal) {
  SKIP_WITHOUT_REFERENCE();
  const RenderCase& c = GetParam();
  const uint32_t seed = static_cast<uint32_t>(c.rate) + static_cast<uint32_t>(c.settings.cutoff);
  CompareWithModule(c.rate, {{0, c.settings, c.settings}}, TestSignal(c.rate, seed), seed);
}

std::vector<RenderCase> RenderCases() {
  const Settings kSettings[] = {
      {40.0f, 0, 0, 1},  {40.0f, 0, 1, 1},   {250.0f, 2, 1, 2},   {1000.0f, -3, 0, 2},
      {10.0f, -1, 1, 2}, {5000.0f, 3, 0, 1}, {123.456f, 1, 1, 1},
  };
  std::vector<RenderCase> cases;
  for (double rate : {44100.0, 48000.0, 96000.0, 8000.0, 192000.0}) {
    for (const Settings& s : kSettings) cases.push_back({rate, s});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(RatesAndSettings, Lv2MatchesModule, ::testing::ValuesIn(RenderCases()),
                         [](const ::testing::TestParamInfo<RenderCase>& info) {
                           const RenderCase& c = info.param;
                           char name[96];
                           std::snprintf(name, sizeof name, "%dHz_cutoff%d_oct%s%d_%s_%dpole",
                                         static_cast<int>(c.rate),
                                         static_cast<int>(c.settings.cutoff),
                                         c.settings.octave < 0 ? "minus" : "plus",
                                         static_cast<int>(std::fabs(c.settings.octave)),
                                         c.settings.scale == 1 ? "VoltPerOctave" : "VoltPerKhz",
                                         static_cast<int>(c.settings.order));
                           return std::string(name);
                         });

// Any rate a host gives, whole or not, low or high.
TEST(Lv2Rates, UnusualRatesMatchTheModule) {
  SKIP_WITHOUT_REFERENCE();
  for (double rate : {1000.0, 11025.5, 384000.0}) {
    SCOPED_TRACE(rate);
    for (const Settings& s : {Settings{40.0f, 0, 0, 1}, Settings{123.456f, 1, 1, 2}}) {
      const uint32_t seed = static_cast<uint32_t>(rate) + static_cast<uint32_t>(s.order);
      CompareWithModule(rate, {{0, s, s}}, TestSignal(rate, seed), seed);
    }
  }
}

// Hosts pass control values unchecked: each is clamped and rounded to the
// nearest allowed value (a NaN takes the default) before the module sees it.
TEST(Lv2Controls, OutOfRangeAndNonFiniteValuesActAsTheNearestAllowed) {
  SKIP_WITHOUT_REFERENCE();
  struct Case {
    Settings ports, applied;
  };
  const Case kCases[] = {
      {{kNaN, kNaN, kNaN, kNaN}, {40.0f, 0, 0, 1}},
      {{kSignalingNaN, kSignalingNaN, kSignalingNaN, kSignalingNaN}, {40.0f, 0, 0, 1}},
      {{kInf, kInf, kInf, kInf}, {5000.0f, 3, 1, 2}},
      {{-kInf, -kInf, -kInf, -kInf}, {10.0f, -3, 0, 1}},
      {{1e9f, 7.6f, 0.7f, 1.5f}, {5000.0f, 3, 1, 2}},
      {{-0.0f, -0.4f, 0.49f, 1.49f}, {10.0f, 0, 0, 1}},
      {{9.99f, -2.5f, 0.5f, 0.0f}, {10.0f, -3, 1, 1}},
      {{1e-40f, 2.5f, -1.0f, 3.0f}, {10.0f, 3, 0, 2}},
      {{5000.5f, 1.4999999f, 1e30f, -kNaN}, {5000.0f, 1, 1, 1}},
      {{327.25f, -1.5000001f, -0.0f, 1.9f}, {327.25f, -2, 0, 2}},
  };
  const double rate = 48000.0;
  for (size_t k = 0; k < sizeof kCases / sizeof kCases[0]; ++k) {
    SCOPED_TRACE(Describe(kCases[k].ports));
    const uint32_t seed = 500 + static_cast<uint32_t>(k);
    std::vector<float> input = TestSignal(rate, seed);
    input.resize(input.size() / 3);
    CompareWithModule(rate, {{0, kCases[k].ports, kCases[k].applied}}, input, seed);
  }
}

// A change between two run() calls takes effect at the first sample of the
// next, as pin changes at that sample do in the module; a zero-length run()
// in between observes nothing.
TEST(Lv2Controls, ChangesBetweenRunsApplyAtTheNextRunsFirstSample) {
  SKIP_WITHOUT_REFERENCE();
  const double rate = 44100.0;
  const std::vector<float> input = TestSignal(rate, 77);
  const std::vector<Change> changes = {
      {0, {40.0f, 0, 0, 1}, {40.0f, 0, 0, 1}},
      {3000, {200.0f, 1, 1, 1}, {200.0f, 1, 1, 1}},
      {3001, {200.0f, 1, 1, 2}, {200.0f, 1, 1, 2}},
      // The scale alone: the coefficients stay as the last change computed them.
      {9000, {200.0f, 1, 0, 2}, {200.0f, 1, 0, 2}},
      {15000, {777.0f, -2, 1, 1}, {777.0f, -2, 1, 1}},
      {15001, {777.0f, -2, 1, 1}, {777.0f, -2, 1, 1}},
      {21000, {kNaN, 3, 1, 2}, {40.0f, 3, 1, 2}},
      {30000, {40.0f, 3, 0, 2}, {40.0f, 3, 0, 2}},
      {70000, {4321.0f, -1, 1, 1}, {4321.0f, -1, 1, 1}},
  };
  CompareWithModule(rate, changes, input, 78);

  // A zero-length run() with other settings just before a change must leave
  // no trace: here it would compute 3000 Hz coefficients under 1 V/kHz
  // rounding, which the 1 V/oct run() after it would then keep.
  const std::vector<float> module = ModuleRender(
      rate,
      {{0, {40.0f, 0, 0, 1}, {40.0f, 0, 0, 1}}, {5000, {3000.0f, 0, 1, 1}, {3000.0f, 0, 1, 1}}},
      input);
  for (const char* uri : kPluginUris) {
    Lv2Instance instance(FindPlugin(uri), rate);
    instance.Activate();
    RunChecks checks;
    std::vector<float> output(input.size());
    instance.Set({40.0f, 0, 0, 1});
    instance.Run(input.data(), output.data(), 5000, kHostStates[0], &checks);
    instance.Set({3000.0f, 0, 0, 1});
    instance.Run(input.data() + 5000, output.data() + 5000, 0, kHostStates[0], &checks);
    instance.Set({3000.0f, 0, 1, 1});
    instance.Run(input.data() + 5000, output.data() + 5000,
                 static_cast<uint32_t>(input.size() - 5000), kHostStates[0], &checks);
    ExpectSameBits(module, output, std::string(uri) + " with a zero-length run()");
    ExpectRealTimeCitizen(checks, uri);
  }
}

// Random settings changes, many of one setting alone, at random samples
// from one to thousands apart, at several rates.
TEST(Lv2Controls, RandomChangesAtRandomSamplesMatchTheModule) {
  SKIP_WITHOUT_REFERENCE();
  const float kCutoffs[] = {10.0f, 40.0f, 55.5f, 200.0f, 777.0f, 3000.0f, 5000.0f};
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const double rate = seed % 3 == 0 ? 96000.0 : seed % 3 == 1 ? 44100.0 : 48000.0;
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::vector<float> input = TestSignal(rate, 900 + seed);
    std::mt19937 random(seed);
    Settings s = {40.0f, 0, 0, 1};
    std::vector<Change> changes = {{0, s, s}};
    for (uint32_t at = 1 + random() % 64; at < input.size();
         at += 1 + random() % (1u << (random() % 15))) {
      switch (random() % 5) {
        case 0:
          s.cutoff =
              random() % 2
                  ? kCutoffs[random() % 7]
                  : 10.0f * std::pow(500.0f, static_cast<float>(random() % 10000) / 10000.0f);
          break;
        case 1:
          s.octave = static_cast<float>(static_cast<int>(random() % 7) - 3);
          break;
        case 2:
        case 3:
          s.scale = 1.0f - s.scale;
          break;
        default:
          s.order = 3.0f - s.order;
          break;
      }
      changes.push_back({at, s, s});
    }
    CompareWithModule(rate, changes, input, 1000 + seed);
  }
}

// ---------------------------------------------------- life of an instance

// activate() starts from silence again: after a render that stops with the
// filters charged, a second activation renders as a fresh instance does.
TEST(Lv2Instance, ActivateResetsTheSignalState) {
  const double rate = 48000.0;
  std::vector<float> input = TestSignal(rate, 9);
  input.resize(static_cast<size_t>(0.5 * rate));  // ends inside the sweep
  const std::vector<Change> changes = {{0, {300.0f, 1, 1, 2}, {300.0f, 1, 1, 2}}};
  for (const char* uri : kPluginUris) {
    Lv2Instance instance(FindPlugin(uri), rate);
    RunChecks checks;
    instance.Activate();
    const std::vector<float> first = Lv2Render(instance, changes, input, 1, false, &checks);
    instance.Deactivate();
    instance.Activate();
    const std::vector<float> second = Lv2Render(instance, changes, input, 2, false, &checks);
    ExpectSameBits(first, second, std::string(uri) + " after deactivate and activate");
    ExpectRealTimeCitizen(checks, uri);
  }
}

// The heap counter sees what a plug-in itself allocates, so its zero inside
// run() means something: instantiate's own allocation is counted.
TEST(Lv2Instance, TheAllocationCounterSeesThePluginsOwnHeapCalls) {
  Lv2Instance loaded(FindPlugin(kCvUri), 44100.0);  // the library is loaded from here on
  LilvInstance* probe = lilv_plugin_instantiate(FindPlugin(kCvUri), 44100.0, nullptr);
  ASSERT_NE(probe, nullptr);
  const LV2_Descriptor* descriptor = lilv_instance_get_descriptor(probe);
  allocation_counter::Start();
  LV2_Handle handle = descriptor->instantiate(descriptor, 44100.0, "", nullptr);
  const int64_t calls = allocation_counter::Stop();
  ASSERT_NE(handle, nullptr);
  descriptor->cleanup(handle);
  lilv_instance_free(probe);
  EXPECT_GE(calls, 1);
}

// Hosts instantiate on one thread while other instances run on another:
// instances share no mutable state. One thread renders 1 V/oct and compares
// with the module while another keeps instantiating, activating, running
// and freeing instances at other rates under a hostile control state.
TEST(Lv2Instance, InstancesOnOtherThreadsLeaveARenderUntouched) {
  SKIP_WITHOUT_REFERENCE();
  const double rate = 44100.0;
  const std::vector<float> input = TestSignal(rate, 31);
  const std::vector<Change> changes = {{0, {80.0f, -1, 1, 2}, {80.0f, -1, 1, 2}}};
  const std::vector<float> module = ModuleRender(rate, changes, input);

  // lilv's world is not thread-safe: everything that reads it happens here.
  const LilvPlugin* plugins[] = {FindPlugin(kCvUri), FindPlugin(kAudioUri)};
  Lv2Instance instance(plugins[0], rate);
  instance.Activate();

  std::atomic<bool> done{false};
  std::atomic<int> churned{0};
  std::thread churn([&] {
    const std::vector<float> noise = TestSignal(22050.0, 5);
    std::vector<float> out(noise.size());
    for (uint32_t k = 0; !done; ++k) {
      LoadFpuControlWords(kHostStates[k % 4]);
      LilvInstance* other = lilv_plugin_instantiate(plugins[k % 2], 11025.0 * (1 + k % 8), nullptr);
      float controls[4] = {5000.0f, 3.0f, static_cast<float>(k % 2), 2.0f};
      for (uint32_t port = kCutoff; port <= kOrder; ++port) {
        lilv_instance_connect_port(other, port, &controls[port - kCutoff]);
      }
      lilv_instance_connect_port(other, kInput, const_cast<float*>(noise.data()));
      lilv_instance_connect_port(other, kPitch, out.data());
      lilv_instance_activate(other);
      lilv_instance_run(other, 4096);
      lilv_instance_deactivate(other);
      lilv_instance_free(other);
      LoadFpuControlWords(kDefaultFpuControlWords);
      ++churned;
    }
  });

  RunChecks checks;
  for (int pass = 0; pass < 2 || (churned < 8 && pass < 50); ++pass) {
    const std::vector<float> lv2 = Lv2Render(instance, changes, input, 40 + pass, false, &checks);
    ExpectSameBits(module, lv2, "render while other instances come and go");
    instance.Deactivate();
    instance.Activate();
  }
  done = true;
  churn.join();
  ExpectRealTimeCitizen(checks, "render while other instances come and go");
  EXPECT_GE(churned.load(), 8);
}
