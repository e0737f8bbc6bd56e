// The LV2 bundle through a test host on liblilv (Lv2Rig): the description
// hosts read, and signals rendered through the plug-ins as a real-time host
// would, every output bit compared with the 32-bit module's render of the
// same input and settings.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/core/lv2.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "AllocationCounter.h"
#include "FloatBits.h"
#include "FpuControl.h"
#include "Lv2Rig.h"
#include "OutputUnits.h"
#include "ScalePoints.h"
#include "conditioning/LiveTracker.h"

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
// and freeing instances of all four plug-ins at other rates under a hostile
// control state.
TEST(Lv2Instance, InstancesOnOtherThreadsLeaveARenderUntouched) {
  SKIP_WITHOUT_REFERENCE();
  const double rate = 44100.0;
  const std::vector<float> input = TestSignal(rate, 31);
  const std::vector<Change> changes = {{0, {80.0f, -1, 1, 2}, {80.0f, -1, 1, 2}}};
  const std::vector<float> module = ModuleRender(rate, changes, input);

  // lilv's world is not thread-safe: everything that reads it happens here.
  const LilvPlugin* plugins[] = {FindPlugin(kCvUri), FindPlugin(kAudioUri),
                                 FindPlugin(kTrackerCvUri), FindPlugin(kTrackerAudioUri)};
  Lv2Instance instance(plugins[0], rate);
  instance.Activate();

  std::atomic<bool> done{false};
  std::atomic<int> churned{0};
  std::thread churn([&] {
    const std::vector<float> noise = TestSignal(22050.0, 5);
    std::vector<float> out(noise.size());
    for (uint32_t k = 0; !done; ++k) {
      LoadFpuControlWords(kHostStates[k % 4]);
      // The trackers' own ports left unconnected take their defaults.
      LilvInstance* other = lilv_plugin_instantiate(plugins[k % 4], 11025.0 * (1 + k % 8), nullptr);
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

// ------------------------------------------------------------ the tracker

// `lowest` 0 (or below) switches the tracker off: the module's output bit
// for bit, whatever `hold` and `threshold` say, with the gate shut.
TEST(Lv2Tracker, SwitchedOffItIsTheModule) {
  SKIP_WITHOUT_REFERENCE();
  const Settings kSettings[] = {
      {40.0f, 0, 0, 1, 0.0f, -50.0f, 1.0f},    {40.0f, 0, 1, 2, 0.0f, -50.0f, 0.0f},
      {250.0f, 2, 1, 2, -0.0f, -120.0f, 1.0f}, {1000.0f, -3, 0, 2, -7.0f, 0.0f, 1.0f},
      {123.456f, 1, 1, 1, -kInf, kNaN, kNaN},
  };
  for (double rate : {44100.0, 48000.0, 96000.0}) {
    for (const Settings& s : kSettings) {
      SCOPED_TRACE(Describe(s));
      const uint32_t seed = static_cast<uint32_t>(rate) + static_cast<uint32_t>(s.cutoff);
      CompareWithModule(rate, {{0, s, s}}, TestSignal(rate, seed), seed, kTrackerUris);
    }
  }
}

// The gate opens on a note above the threshold and closes when it ends or
// falls kGateHysteresisDb (6 dB) below the threshold: a note between the two
// levels keeps an open gate open but does not open a shut one. One opening
// per note, none for notes too quiet.
TEST(Lv2Tracker, TheGateOpensAndClosesOnNotesWithHysteresis) {
  const double rate = 48000.0;
  // clang-format off
  const std::vector<Segment> kLine = {
      {0.3, 0, 0},
      {0.5, 220, -20},                  // 1: loud
      {0.4, 0, 0},
      {0.5, 220, -45},                  // 3: 5 dB above -50
      {0.4, 0, 0},
      {0.5, 220, -58},                  // 5: 2 dB below -56, where an open gate closes
      {0.4, 0, 0},
      {0.5, 220, -53},                  // 7: between, from silence
      {0.4, 0, 0},
      {0.3, 220, -20}, {0.4, 220, -53}, // 9, 10: loud, then between
      {0.4, 0, 0},
      {0.3, 220, -20}, {0.4, 220, -60}, // 12, 13: loud, then below -56
      {0.4, 0, 0},
  };
  // clang-format on
  struct Case {
    float threshold;
    std::vector<std::pair<int, int>> open;  // first and last segment of each opening
  };
  const Case kCases[] = {
      {-50.0f, {{1, 1}, {3, 3}, {9, 10}, {12, 12}}},
      // Closing at -36 dB: the step to -53 dB ends the note for the gate.
      {-30.0f, {{1, 1}, {9, 9}, {12, 12}}},
  };
  const std::vector<float> input = Saws(rate, kLine);
  const std::vector<size_t> starts = SegmentStarts(rate, kLine);
  // The tracker decides a pitch from frames of some tens of ms.
  const size_t kLate = static_cast<size_t>(0.1 * rate);
  for (const Case& c : kCases) {
    for (const char* uri : kTrackerUris) {
      SCOPED_TRACE(std::string(uri) + ", threshold " + std::to_string(c.threshold));
      const Settings s = {40.0f, 0, 1, 2, 41.2f, c.threshold, 1.0f};
      RunChecks checks;
      const TrackerRender render = RenderTracker(uri, rate, {{0, s, s}}, input, 7, &checks);
      ExpectRealTimeCitizen(checks, uri);
      const auto stretches = OpenStretches(render.gate);
      ASSERT_EQ(stretches.size(), c.open.size());
      for (size_t k = 0; k < stretches.size(); ++k) {
        const size_t note_start = starts[c.open[k].first], note_end = starts[c.open[k].second + 1];
        std::printf(
            "[ gate ] threshold %g: open %.4f s after the note starts, closes %.4f s "
            "after it ends\n",
            c.threshold, (static_cast<double>(stretches[k].first) - note_start) / rate,
            (static_cast<double>(stretches[k].second) - note_end) / rate);
        EXPECT_GE(stretches[k].first, note_start);
        EXPECT_LE(stretches[k].first, note_start + kLate);
        EXPECT_GE(stretches[k].second, note_end) << "closed inside the note";
        EXPECT_LE(stretches[k].second, note_end + kLate);
      }
    }
  }
}

// The tracker with hold as in `on` and with it off, each run as a careful
// real-time citizen: the gate must not depend on hold.
struct HoldPair {
  TrackerRender held, free;
};
HoldPair RenderHoldOnAndOff(const char* uri, double rate, const Settings& on,
                            const std::vector<float>& input, uint32_t seed) {
  Settings off = on;
  off.hold = 0.0f;
  RunChecks checks;
  HoldPair pair{RenderTracker(uri, rate, {{0, on, on}}, input, seed, &checks),
                RenderTracker(uri, rate, {{0, off, off}}, input, seed + 1, &checks)};
  ExpectRealTimeCitizen(checks, uri);
  ExpectSameBits(pair.free.gate, pair.held.gate, "the gate with hold on and off");
  return pair;
}

// With `hold` on, while the gate is shut after a note the output keeps one
// value for that note, one the free reading took shortly before the gate
// closed; otherwise, and before any note, it is the module's output with
// hold off, which falls to the no-pitch reading in a gap.
TEST(Lv2Tracker, HoldKeepsTheLastNoteThroughAGap) {
  const double rate = 44100.0;  // the module's gain is set for it: values read as played
  const std::vector<Segment> kLine = {
      {0.2, 0, 0}, {0.5, 220, -20}, {0.6, 0, 0}, {0.4, 330, -20}, {0.6, 0, 0}};
  const std::vector<float> input = Saws(rate, kLine);
  const std::vector<size_t> starts = SegmentStarts(rate, kLine);
  for (const char* uri : kTrackerUris) {
    SCOPED_TRACE(uri);
    const Settings on = {40.0f, 0, 1, 2, 41.2f, -50.0f, 1.0f};
    const auto [held, free] = RenderHoldOnAndOff(uri, rate, on, input, 11);
    const auto stretches = OpenStretches(held.gate);
    ASSERT_EQ(stretches.size(), 2u);

    // Held: one value from the gate's closing to the next opening, within
    // what the free reading took over the two longest periods before the
    // closing can have trailed the note's end.
    const size_t trail = tonevolt::LiveTracker::CloseDelaySamples(rate, on.lowest);
    for (size_t k = 0; k < stretches.size(); ++k) {
      const auto [opened, closed] = stretches[k];
      const size_t gap_end = k + 1 < stretches.size() ? stretches[k + 1].first : input.size();
      const size_t last = closed > opened + trail ? closed - trail : opened;
      const size_t first = last > opened + 2 * trail ? last - 2 * trail : opened;
      const auto [low, high] =
          std::minmax_element(free.pitch.begin() + first, free.pitch.begin() + last + 1);
      EXPECT_GE(held.pitch[closed], *low) << "note " << k;
      EXPECT_LE(held.pitch[closed], *high) << "note " << k;
      int64_t differing = 0;
      for (size_t i = closed; i < gap_end; ++i)
        differing += Bits(held.pitch[i]) != Bits(held.pitch[closed]);
      EXPECT_EQ(differing, 0) << "samples of gap " << k << " not holding one value";
    }
    int64_t differing = 0;
    for (size_t i = 0; i < input.size(); ++i) {
      if (held.gate[i] != 0.0f || i < stretches[0].second)
        differing += Bits(held.pitch[i]) != Bits(free.pitch[i]);
    }
    EXPECT_EQ(differing, 0) << "samples differing from the free reading while the gate is open "
                               "or before the first note ends";
    // The end of each gap: the note held, or the no-pitch reading.
    for (const auto& [gap_end, hz] : {std::pair<size_t, double>{starts[3] - 1, 220.0},
                                      std::pair<size_t, double>{starts[5] - 1, 330.0}}) {
      EXPECT_NEAR(held.pitch[gap_end], OctaveValueOfReadHz(hz), kFiftyCents)
          << "held at " << gap_end;
      EXPECT_NEAR(free.pitch[gap_end], kNoPitchValue, 1e-3) << "free at " << gap_end;
    }
  }
}

// A held note is its settled reading, not one sample of its ripple: at the
// tracker's default cutoff (10 Hz) the reading of an A2 ripples ±250 cents
// with one pole and ±12 with two, and one sample of it held 73 cents off.
// Each note, held through the silence after it, within a few cents of the
// note at both orders: the mean of a 1 V/oct reading's values lies below
// the note by about a sixth of the ripple's depth squared (6.5 cents for
// the A2 at one pole). An order port without a number is the tracker's
// default, two poles.
TEST(Lv2Tracker, HoldKeepsEachNotesSettledReading) {
  const double rate = 44100.0;
  struct Note {
    const char* name;
    double hz;
  };
  const Note kNotes[] = {{"A2", 110.0}, {"A3", 220.0}, {"C4", 261.6256}};
  std::vector<Segment> line = {{0.2, 0, 0}};
  for (const Note& note : kNotes) {
    line.push_back({0.6, note.hz, -20});
    line.push_back({0.5, 0, 0});
  }
  const std::vector<float> input = Saws(rate, line);
  const std::vector<size_t> starts = SegmentStarts(rate, line);
  std::vector<float> two_poles;
  for (const auto& [order, few_cents] :
       {std::pair<float, double>{1.0f, 8.0}, std::pair<float, double>{2.0f, 2.0},
        std::pair<float, double>{kNaN, 2.0}}) {
    for (const char* uri : kTrackerUris) {
      SCOPED_TRACE(std::string(uri) + ", order " + std::to_string(order));
      const Settings s = {10.0f, 0, 1, order, 41.2f, -50.0f, 1.0f};
      RunChecks checks;
      const TrackerRender render = RenderTracker(uri, rate, {{0, s, s}}, input, 31, &checks);
      ExpectRealTimeCitizen(checks, uri);
      ASSERT_EQ(OpenStretches(render.gate).size(), std::size(kNotes));
      if (order == 2.0f && two_poles.empty()) two_poles = render.pitch;
      if (std::isnan(order)) ExpectSameBits(two_poles, render.pitch, "the default order");
      for (size_t k = 0; k < std::size(kNotes); ++k) {
        const size_t gap_end = starts[2 * k + 3] - 1;
        const double cents =
            (render.pitch[gap_end] - OctaveValueOfReadHz(kNotes[k].hz)) * kVoltsPerUnit * 1200.0;
        if (uri == kTrackerCvUri) {
          std::printf("[ hold ] %s, order %g: held %+.2f cents\n", kNotes[k].name, order, cents);
        }
        EXPECT_LE(std::fabs(cents), few_cents) << kNotes[k].name;
      }
    }
  }
}

// A note held at -20 dBFS, then released: each partial fades at its own
// rate, over white noise at -100 dBFS that goes on after it, then digital
// silence.
struct Partial {
  int harmonic;
  double amplitude;
  double fade_seconds;  // to 1/e
};

std::vector<float> FadingNote(double rate, double hz, const std::vector<Partial>& partials) {
  const double kLead = 0.1, kSustain = 0.5, kRelease = 0.9, kSilence = 0.3;
  double power = 0;
  for (const Partial& p : partials) power += p.amplitude * p.amplitude / 2;
  const double scale = std::pow(10.0, -20.0 / 20) / std::sqrt(power);
  const double noise_peak = std::sqrt(3.0) * std::pow(10.0, -100.0 / 20);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  const size_t lead = static_cast<size_t>(kLead * rate),
               sustain = static_cast<size_t>(kSustain * rate);
  const size_t release = static_cast<size_t>(kRelease * rate);
  std::vector<float> s(lead, 0.0f);
  for (size_t i = 0; i < sustain + release; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double faded = i < sustain ? 0.0 : static_cast<double>(i - sustain) / rate;
    double x = 0;
    for (const Partial& p : partials) {
      x += p.amplitude * std::exp(-faded / p.fade_seconds) *
           std::sin(2 * M_PI * p.harmonic * hz * t);
    }
    s.push_back(static_cast<float>(scale * x + (i < sustain ? 0.0 : noise_peak * uniform(random))));
  }
  s.resize(s.size() + static_cast<size_t>(kSilence * rate), 0.0f);
  return s;
}

// A note that fades ends the gate before the reading leaves the note: no
// reading from the note's settling (0.2 s in) to the gate's closing is 50
// cents or more off it, and with hold on the pitch keeps the note through
// the tail. A clarinet's fundamental dies before its third partial, which
// the tracker then takes for the pitch, the level still some 40 dBFS: the
// gate closes on that release, not when the level reaches its closing
// level.
TEST(Lv2Tracker, TheGateClosesOnAReleaseBeforeTheReadingWanders) {
  const double rate = 44100.0;
  struct Case {
    const char* name;
    double hz;
    std::vector<Partial> partials;
  };
  std::vector<Partial> saw;
  for (int k = 1; k <= 20; ++k) saw.push_back({k, 1.0 / k, 0.08});
  std::vector<Partial> bass;
  for (int k = 1; k <= 12; ++k) bass.push_back({k, 1.0 / k, 0.3 / k});
  const Case kCases[] = {
      {"a clarinet's E5", 659.2551, {{1, 1.0, 0.03}, {3, 0.6, 0.12}, {5, 0.3, 0.05}}},
      {"a sawtooth's A3", 220.0, saw},
      {"a plucked E2", 82.4069, bass},
  };
  const size_t settled = static_cast<size_t>(0.3 * rate);  // the lead and 0.2 s
  for (const Case& c : kCases) {
    const std::vector<float> input = FadingNote(rate, c.hz, c.partials);
    const double note = OctaveValueOfReadHz(c.hz);
    for (const char* uri : kTrackerUris) {
      SCOPED_TRACE(std::string(uri) + ", " + c.name);
      const auto [held, free] =
          RenderHoldOnAndOff(uri, rate, {10.0f, 0, 1, 2, 41.2f, -50.0f, 1.0f}, input, 41);
      const auto stretches = OpenStretches(held.gate);
      ASSERT_EQ(stretches.size(), 1u);
      const auto [opened, closed] = stretches[0];
      ASSERT_LT(opened, settled);
      double open_cents = 0, held_cents = 0;
      for (size_t i = settled; i < closed; ++i)
        open_cents = std::max(open_cents, std::fabs(free.pitch[i] - note) * kVoltsPerUnit * 1200);
      for (size_t i = closed; i < input.size(); ++i)
        held_cents = std::max(held_cents, std::fabs(held.pitch[i] - note) * kVoltsPerUnit * 1200);
      if (uri == kTrackerCvUri) {
        std::printf(
            "[ release ] %s: the gate closes %.3f s into the release; while open, read up to "
            "%.1f cents off; held %.1f cents off\n",
            c.name, static_cast<double>(closed) / rate - 0.6, open_cents, held_cents);
      }
      EXPECT_LT(open_cents, 50.0) << "read off the note while the gate is open";
      EXPECT_LT(held_cents, 10.0) << "held off the note";
    }
  }
}

// Pitch and gate do not depend on how a host cuts the signal into blocks
// or on its thread's control state, with controls changing between runs.
TEST(Lv2Tracker, OutputDoesNotDependOnBlockLengths) {
  const double rate = 48000.0;
  std::vector<float> input = Saws(rate, {{0.1, 0, 0},
                                         {0.4, 110, -20},
                                         {0.4, 164.8, -30},
                                         {0.2, 0, 0},
                                         {0.4, 220, -47},
                                         {0.3, 82.4, -12},
                                         {0.3, 0, 0}});
  const std::vector<float> noisy = TestSignal(rate, 3);
  input.insert(input.end(), noisy.begin(), noisy.end());
  const Settings first = {40.0f, 0, 1, 2, 41.2f, -50.0f, 1.0f};
  Settings quiet = first, free = first, other = first;
  quiet.threshold = -40.0f;
  free.hold = 0.0f;
  other.cutoff = 300.0f;
  other.scale = 0;
  const std::vector<Change> changes = {
      {0, first, first}, {30000, quiet, quiet}, {50001, free, free}, {70000, other, other}};
  TrackerRender reference;
  for (const char* uri : kTrackerUris) {
    for (uint32_t seed : {21u, 22u}) {
      SCOPED_TRACE(std::string(uri) + ", blocks " + std::to_string(seed));
      RunChecks checks;
      const TrackerRender render = RenderTracker(uri, rate, changes, input, seed, &checks);
      ExpectRealTimeCitizen(checks, uri);
      if (reference.pitch.empty()) {
        reference = render;
        EXPECT_FALSE(OpenStretches(render.gate).empty());
        continue;
      }
      ExpectSameBits(reference.pitch, render.pitch, "pitch against the first render");
      ExpectSameBits(reference.gate, render.gate, "gate against the first render");
    }
  }
}

// What the tool renders with `--prefilter live` is what the tracker plug-in
// gives with `hold` off, and with `live:hold` what it gives with `hold` on,
// bit for bit: the same conditioning on i386 and x86-64, the same module,
// the same hold.
TEST(Lv2Tracker, TheToolsLiveRenderIsThePlugInsOutput) {
  SKIP_WITHOUT_REFERENCE();
  SKIP_WITHOUT_TOOL();
  const double rate = 44100.0;  // where the tool runs the module without resampling
  const std::vector<float> input = Saws(rate, {{0.1, 0, 0},
                                               {0.4, 110, -20},
                                               {0.3, 329.6, -26},
                                               {0.2, 0, 0},
                                               {0.4, 55, -14},
                                               {0.3, 880, -40},
                                               {0.3, 0, 0}});
  const std::string in = WorkPath("in.wav"), out = WorkPath("out.wav");
  WriteFloatWav(in, input, static_cast<uint32_t>(rate));
  for (const auto& [prefilter, hold] : {std::pair<const char*, float>{"live", 0.0f},
                                        std::pair<const char*, float>{"live:hold", 1.0f}}) {
    SCOPED_TRACE(prefilter);
    std::remove(out.c_str());
    const std::string command = std::string("'") + TONEVOLT_PROGRAM + "' render '" + in + "' '" +
                                out + "' --prefilter " + prefilter +
                                " --cutoff 40 --scale oct --order 2 > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<float> tool = ReadFloatWavData(out);

    const Settings settings = {40.0f, 0, 1, 2, 41.2f, -50.0f, hold};
    for (const char* uri : kTrackerUris) {
      SCOPED_TRACE(uri);
      RunChecks checks;
      const TrackerRender plugin =
          RenderTracker(uri, rate, {{0, settings, settings}}, input, 21, &checks);
      ExpectRealTimeCitizen(checks, uri);
      ExpectSameBits(tool, plugin.pitch,
                     std::string("the tool's --prefilter ") + prefilter + " against the plug-in");
    }
  }
}

// Hosts run a plug-in through some pre-roll before a render starts, and the
// tracker's frames fall every 10 ms from its activation: without a
// position, the first 0.2 to 0.3 s of each note depend on how many samples
// ran before it. With the host's transport position the frames are on the
// timeline, and a melody at timeline sample T renders the same bits from T
// on after any pre-roll. Without urid:map, with a stopped transport, or
// from timeline sample 0, the render is the one without a position, which
// the tool's is.
TEST(Lv2Tracker, ATimelinePositionMakesARenderIndependentOfItsPreRoll) {
  const double rate = 44100.0;
  const std::vector<Segment> kLine = {{0.4, 110, -20},   {0.3, 164.8, -26}, {0.1, 0, 0},
                                      {0.4, 329.6, -20}, {0.3, 220, -14},   {0.3, 0, 0}};
  const std::vector<float> melody = Saws(rate, kLine);
  // Where a note began at most 0.3 s before, for the measure.
  std::vector<bool> note_start(melody.size(), false);
  const std::vector<size_t> starts = SegmentStarts(rate, kLine);
  for (size_t k = 0; k < kLine.size(); ++k) {
    if (kLine[k].hz <= 0) continue;
    for (size_t i = starts[k]; i < starts[k] + static_cast<size_t>(0.3 * rate); ++i)
      note_start[i] = true;
  }
  const int64_t kAt = 3 * 44100 + 123;  // the melody's first sample on the timeline
  const Settings s = {10.0f, 0, 1, 2, 41.2f, -50.0f, 1.0f};
  for (const char* uri : kTrackerUris) {
    SCOPED_TRACE(uri);
    RunChecks checks;
    TrackerRender free_reference, timed_reference;
    for (const size_t preroll : {480u, 100u, 1024u, 0u}) {
      SCOPED_TRACE("pre-roll " + std::to_string(preroll));
      std::vector<float> input(preroll, 0.0f);
      input.insert(input.end(), melody.begin(), melody.end());
      const int64_t start = kAt - static_cast<int64_t>(preroll);
      const uint32_t seed = 50 + static_cast<uint32_t>(preroll);
      TrackerRender free = RenderTracker(uri, rate, {{0, s, s}}, input, seed, &checks);
      TrackerRender timed = RenderTracker(uri, rate, {{0, s, s}}, input, seed + 1, &checks, &start);
      const TrackerRender unmapped =
          RenderTracker(uri, rate, {{0, s, s}}, input, seed + 2, &checks, &start, false);
      ExpectSameBits(free.pitch, unmapped.pitch, "pitch with a position but no urid:map");
      ExpectSameBits(free.gate, unmapped.gate, "gate with a position but no urid:map");
      for (TrackerRender* render : {&free, &timed}) {
        render->pitch.erase(render->pitch.begin(), render->pitch.begin() + preroll);
        render->gate.erase(render->gate.begin(), render->gate.begin() + preroll);
      }
      if (timed_reference.pitch.empty()) {
        free_reference = free;
        timed_reference = timed;
        continue;
      }
      ExpectSameBits(timed_reference.pitch, timed.pitch, "pitch from T on, given the position");
      ExpectSameBits(timed_reference.gate, timed.gate, "gate from T on, given the position");
      double most_starting = 0, most_after = 0;
      for (size_t i = 0; i < free.pitch.size(); ++i) {
        const double difference = std::fabs(free.pitch[i] - free_reference.pitch[i]);
        double& most = note_start[i] ? most_starting : most_after;
        most = std::max(most, difference);
      }
      if (uri == kTrackerCvUri) {
        std::printf(
            "[ timeline ] no position, pre-roll %zu against 480: pitch differs by up to %.4f "
            "(%.0f cents) in a note's first 0.3 s, %.1e (%.1e cents) elsewhere\n",
            preroll, most_starting, most_starting * kVoltsPerUnit * 1200, most_after,
            most_after * kVoltsPerUnit * 1200);
      }
    }
    ExpectRealTimeCitizen(checks, uri);

    // From timeline sample 0 the frames are where activation puts them.
    const int64_t zero = 0;
    const TrackerRender free = RenderTracker(uri, rate, {{0, s, s}}, melody, 60, &checks);
    const TrackerRender from_zero =
        RenderTracker(uri, rate, {{0, s, s}}, melody, 61, &checks, &zero);
    ExpectSameBits(free.pitch, from_zero.pitch, "pitch from timeline sample 0");
    ExpectSameBits(free.gate, from_zero.gate, "gate from timeline sample 0");

    // A stopped transport does not advance: its position changes nothing.
    Lv2Instance instance(FindPlugin(uri), rate);
    instance.Set(s);
    instance.Activate();
    std::vector<float> stopped(melody.size()), gate(melody.size());
    for (uint32_t done = 0; done < melody.size(); done += 512) {
      const uint32_t count = std::min<uint32_t>(512, static_cast<uint32_t>(melody.size()) - done);
      instance.SetPosition(kAt, 0.0f);
      instance.Run(melody.data() + done, stopped.data() + done, count, kHostStates[5], &checks,
                   gate.data() + done);
    }
    ExpectSameBits(free.pitch, stopped, "pitch with the transport stopped");
    ExpectRealTimeCitizen(checks, uri);
  }
}

// `lowest` is read at activation: a change takes effect at the next one.
TEST(Lv2Tracker, LowestTakesEffectAtTheNextActivation) {
  const double rate = 44100.0;
  const std::vector<float> input =
      Saws(rate, {{0.1, 0, 0}, {0.4, 55, -20}, {0.4, 146.8, -20}, {0.2, 0, 0}});
  const Settings low = {40.0f, 0, 1, 2, 41.2f, -50.0f, 1.0f};
  Settings high = low, off = low;
  high.lowest = 100.0f;
  off.lowest = 0.0f;
  RunChecks checks;
  const TrackerRender fresh_low =
      RenderTracker(kTrackerCvUri, rate, {{0, low, low}}, input, 1, &checks);
  const TrackerRender fresh_high =
      RenderTracker(kTrackerCvUri, rate, {{0, high, high}}, input, 2, &checks);
  const TrackerRender fresh_off =
      RenderTracker(kTrackerCvUri, rate, {{0, off, off}}, input, 3, &checks);
  int64_t differing = 0;
  FirstDifference(fresh_low.pitch, fresh_high.pitch, &differing);
  EXPECT_GT(differing, 0) << "the lowest note changes nothing";

  Lv2Instance instance(FindPlugin(kTrackerCvUri), rate);
  instance.Set(low);
  instance.Activate();
  std::vector<float> gate;
  // Changed after activation: the tracker keeps its design.
  const std::vector<float> still_low =
      Lv2Render(instance, {{0, high, high}}, input, 4, false, &checks, &gate);
  ExpectSameBits(fresh_low.pitch, still_low, "lowest changed after activation");
  for (const auto& [settings, fresh] :
       {std::pair<Settings, const TrackerRender*>{high, &fresh_high},
        std::pair<Settings, const TrackerRender*>{off, &fresh_off},
        std::pair<Settings, const TrackerRender*>{low, &fresh_low}}) {
    SCOPED_TRACE(Describe(settings));
    instance.Deactivate();
    instance.Set(settings);
    instance.Activate();
    const std::vector<float> pitch =
        Lv2Render(instance, {{0, settings, settings}}, input, 5, false, &checks, &gate);
    ExpectSameBits(fresh->pitch, pitch, "after activation, against a fresh instance");
    ExpectSameBits(fresh->gate, gate, "the gate after activation, against a fresh instance");
  }
  ExpectRealTimeCitizen(checks, kTrackerCvUri);
}

// What hosts read of the tracker plug-ins: the plain plug-in's six ports,
// as the plain plug-in with the same output class has them, then its own.
TEST(Lv2Description, TheTrackerPluginsAddTheirPortsToThePlainOnes) {
  LilvWorld* world = World();
  auto uri_node = [world](const char* uri) { return lilv_new_uri(world, uri); };
  LilvNode* cv = uri_node(LV2_CORE__CVPort);
  LilvNode* audio = uri_node(LV2_CORE__AudioPort);
  LilvNode* control = uri_node(LV2_CORE__ControlPort);
  LilvNode* output = uri_node(LV2_CORE__OutputPort);
  LilvNode* toggled = uri_node(LV2_CORE__toggled);
  LilvNode* reports_latency = uri_node(LV2_CORE__reportsLatency);
  LilvNode* latency = uri_node(LV2_CORE__latency);
  LilvNode* unit = uri_node("http://lv2plug.in/ns/extensions/units#unit");
  LilvNode* atom_port = uri_node("http://lv2plug.in/ns/ext/atom#AtomPort");
  LilvNode* buffer_type = uri_node("http://lv2plug.in/ns/ext/atom#bufferType");
  LilvNode* sequence = uri_node("http://lv2plug.in/ns/ext/atom#Sequence");
  LilvNode* time_position = uri_node("http://lv2plug.in/ns/ext/time#Position");
  LilvNode* urid_map = uri_node("http://lv2plug.in/ns/ext/urid#map");
  struct Own {
    uint32_t index;
    const char* symbol;
    bool output;
    const char* kind;  // "control", "outputs" for the outputs' class, or "position"
    float minimum, maximum, fallback;
    const char* unit;
  };
  const char* const kUnits = "http://lv2plug.in/ns/extensions/units#";
  const Own kOwn[] = {
      {kLowest, "lowest", false, "control", 0.0f, 1000.0f, 41.2f, "hz"},
      {kGate, "gate", true, "outputs", 0, 0, 0, nullptr},
      {kThreshold, "threshold", false, "control", -120.0f, 0.0f, -50.0f, "db"},
      {kHold, "hold", false, "control", 0.0f, 1.0f, 1.0f, nullptr},
      {kLatency, "latency", true, "control", kNaN, kNaN, kNaN, "frame"},
      {kPosition, "position", false, "position", kNaN, kNaN, kNaN, nullptr},
  };
  for (const auto& [tracker_uri, plain_uri] :
       {std::pair<const char*, const char*>{kTrackerCvUri, kCvUri},
        std::pair<const char*, const char*>{kTrackerAudioUri, kAudioUri}}) {
    SCOPED_TRACE(tracker_uri);
    const LilvPlugin* plugin = FindPlugin(tracker_uri);
    const LilvPlugin* plain = FindPlugin(plain_uri);
    ASSERT_NE(plugin, nullptr);
    ASSERT_TRUE(lilv_plugin_verify(plugin));
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin), kTrackerPorts);
    std::vector<float> minimum(kTrackerPorts), maximum(kTrackerPorts), fallback(kTrackerPorts);
    lilv_plugin_get_port_ranges_float(plugin, minimum.data(), maximum.data(), fallback.data());
    std::vector<float> plain_min(6), plain_max(6), plain_fallback(6);
    lilv_plugin_get_port_ranges_float(plain, plain_min.data(), plain_max.data(),
                                      plain_fallback.data());
    for (uint32_t index = 0; index < 6; ++index) {
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
      const LilvPort* same = lilv_plugin_get_port_by_index(plain, index);
      ASSERT_NE(port, nullptr);
      EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)),
                   lilv_node_as_string(lilv_port_get_symbol(plain, same)));
      for (LilvNode* kind : {cv, audio, control, output}) {
        EXPECT_EQ(lilv_port_is_a(plugin, port, kind), lilv_port_is_a(plain, same, kind)) << index;
      }
      EXPECT_EQ(ScalePoints(plugin, port), ScalePoints(plain, same)) << index;
      if (lilv_port_is_a(plugin, port, control)) {
        EXPECT_EQ(minimum[index], plain_min[index]) << index;
        EXPECT_EQ(maximum[index], plain_max[index]) << index;
        // The cutoff's default is the tracker's own: lowest / 16, at least
        // 10 Hz; so is the order's, two poles.
        const float own = index == kCutoff ? 10.0f : index == kOrder ? 2.0f : plain_fallback[index];
        EXPECT_EQ(fallback[index], own) << index;
      }
    }
    const LilvPort* pitch = lilv_plugin_get_port_by_index(plugin, kPitch);
    for (const Own& want : kOwn) {
      SCOPED_TRACE(want.symbol);
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, want.index);
      ASSERT_NE(port, nullptr);
      EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), want.symbol);
      EXPECT_EQ(lilv_port_is_a(plugin, port, output), want.output);
      const std::string kind = want.kind;
      if (kind == "outputs") {
        EXPECT_EQ(lilv_port_is_a(plugin, port, cv), lilv_port_is_a(plugin, pitch, cv));
        EXPECT_EQ(lilv_port_is_a(plugin, port, audio), lilv_port_is_a(plugin, pitch, audio));
        continue;
      }
      if (kind == "position") {
        // An atom sequence that takes the transport's position, which hosts
        // send to ports that say they support it.
        EXPECT_TRUE(lilv_port_is_a(plugin, port, atom_port));
        EXPECT_TRUE(lilv_port_supports_event(plugin, port, time_position));
        LilvNodes* buffer_types = lilv_port_get_value(plugin, port, buffer_type);
        EXPECT_TRUE(lilv_nodes_contains(buffer_types, sequence));
        lilv_nodes_free(buffer_types);
        continue;
      }
      EXPECT_TRUE(lilv_port_is_a(plugin, port, control));
      if (!std::isnan(want.fallback)) {
        EXPECT_EQ(minimum[want.index], want.minimum);
        EXPECT_EQ(maximum[want.index], want.maximum);
        EXPECT_EQ(fallback[want.index], want.fallback);
      }
      EXPECT_EQ(lilv_port_has_property(plugin, port, toggled), want.index == kHold);
      EXPECT_EQ(lilv_port_has_property(plugin, port, reports_latency), want.index == kLatency);
      LilvNodes* units = lilv_port_get_value(plugin, port, unit);
      const std::string want_unit = want.unit != nullptr ? std::string(kUnits) + want.unit : "";
      EXPECT_EQ(units != nullptr ? lilv_node_as_uri(lilv_nodes_get_first(units)) : "", want_unit);
      lilv_nodes_free(units);
    }
    // Hosts find the latency port by its designation too.
    const LilvPort* designated = lilv_plugin_get_port_by_designation(plugin, output, latency);
    ASSERT_NE(designated, nullptr);
    EXPECT_EQ(lilv_port_get_index(plugin, designated), kLatency);
    // urid:map, which the position needs, is optional: without it the
    // plug-in runs as before.
    LilvNodes* optional = lilv_plugin_get_optional_features(plugin);
    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    EXPECT_TRUE(lilv_nodes_contains(optional, urid_map));
    EXPECT_EQ(lilv_nodes_size(required), 0u);
    lilv_nodes_free(optional);
    lilv_nodes_free(required);
  }
  for (LilvNode* node : {cv, audio, control, output, toggled, reports_latency, latency, unit,
                         atom_port, buffer_type, sequence, time_position, urid_map}) {
    lilv_node_free(node);
  }
}
