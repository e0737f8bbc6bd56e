// The CLAP and VST3 plug-ins, each in a test host of its own (tests/clap,
// tests/vst3): the Linux builds natively, the Windows builds through
// wine64. The hosts play a DAW: random block lengths, flush-to-zero and
// denormals-are-zero on their thread (they fail when a call leaves it
// changed), parameter changes at their sample inside a block. The plain
// plug-ins must equal the 32-bit module driven with the same changes, the
// trackers the LV2 tracker, bit for bit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Float32Files.h"
#include "Lv2Rig.h"
#include "plugin/Controls.h"

namespace {

using tonevolt::ControlId;
using tonevolt::kControls;

constexpr char kWine64[] = "/usr/lib/wine/wine64";

struct Target {
  const char* name;
  const char* host;    // the test host program
  const char* plugin;  // the .clap file or the .vst3 bundle
  bool windows;
};

const Target kTargets[] = {
    {"CLAP Linux", TONEVOLT_CLAP_HOST, TONEVOLT_CLAP_PLUGIN, false},
    {"VST3 Linux", TONEVOLT_VST3_HOST, TONEVOLT_VST3_BUNDLE, false},
    {"CLAP Windows", TONEVOLT_WIN64_DIR "/tonevolt_clap_host.exe",
     TONEVOLT_WIN64_DIR "/clap/Tonevolt.clap", true},
    {"VST3 Windows", TONEVOLT_WIN64_DIR "/tonevolt_vst3_host.exe",
     TONEVOLT_WIN64_DIR "/vst3/Tonevolt.vst3", true},
};

bool Exists(const std::string& path) {
  return std::ifstream(path).good() || std::ifstream(path + "/.").good();
}

// The Windows targets need the win64 tree and wine64; without them their
// cases are left out and the test says so.
bool Available(const Target& target) {
  if (!Exists(target.host) || !Exists(target.plugin)) {
    if (target.windows)
      std::printf(
          "partly skipped: %s: no %s (build the win64 preset first; scripts/test.sh does)\n",
          target.name, target.host);
    else
      ADD_FAILURE() << target.name << ": " << target.host << " or " << target.plugin << " missing";
    return false;
  }
  if (target.windows && !Exists(kWine64)) {
    std::printf("partly skipped: %s: no %s (scripts/deps.sh plugins installs it)\n", target.name,
                kWine64);
    return false;
  }
  return true;
}

// What a host run left: its exit status and what it printed.
struct HostRun {
  int status = -1;
  std::string out, err;
};

struct Render {
  std::vector<float> pitch, gate;
  HostRun run;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// One control change at a sample, in the controls' own values.
struct Event {
  uint32_t at;
  ControlId id;
  float value;
};

struct RunOptions {
  std::vector<Event> events;
  std::string load_state, save_state;
  bool params = false;
  const int64_t* timeline = nullptr;  // the input's first sample on a playing transport
};

Render RunHost(const Target& target, bool tracker, double rate, uint32_t seed,
               const std::vector<float>& input, const RunOptions& options) {
  const std::string tag = std::string(target.name) + (tracker ? ".tracker" : ".plain");
  const std::string in = WorkPath(tag + ".in.f32"), pitch = WorkPath(tag + ".pitch.f32");
  const std::string gate = WorkPath(tag + ".gate.f32"), events = WorkPath(tag + ".events.txt");
  const std::string out = WorkPath(tag + ".stdout"), err = WorkPath(tag + ".stderr");
  WriteFloats(in, input);
  {
    std::ofstream file(events);
    for (const Event& e : options.events) {
      char line[96];
      std::snprintf(line, sizeof line, "%u %u %a\n", e.at, static_cast<unsigned>(e.id), e.value);
      file << line;
    }
  }
  std::remove(pitch.c_str());
  std::remove(gate.c_str());
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, " %s %.17g %u ", tracker ? "tracker" : "plain", rate,
                seed);
  std::string command;
  if (target.windows)
    command = "WINEPREFIX=" + Quoted(TONEVOLT_WINE_PREFIX) + " WINEDEBUG=-all " + kWine64 + " ";
  command += Quoted(target.host) + " " + Quoted(target.plugin) + numbers + Quoted(in) + " " +
             Quoted(pitch) + " --events " + Quoted(events);
  if (tracker) command += " --gate " + Quoted(gate);
  if (!options.load_state.empty()) command += " --load-state " + Quoted(options.load_state);
  if (!options.save_state.empty()) command += " --save-state " + Quoted(options.save_state);
  if (options.params) command += " --params";
  if (options.timeline != nullptr) command += " --timeline " + std::to_string(*options.timeline);
  command += " >" + Quoted(out) + " 2>" + Quoted(err);
  Render render;
  const int status = std::system(command.c_str());
  render.run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  render.run.out = Slurp(out);
  render.run.err = Slurp(err);
  ReadFloats(pitch, &render.pitch);
  if (tracker) ReadFloats(gate, &render.gate);
  EXPECT_EQ(render.run.status, 0) << target.name << ": " << command << "\n" << render.run.err;
  return render;
}

// The events that bring a plug-in from its defaults to these settings at a sample.
void AddSettings(std::vector<Event>* events, uint32_t at, const Settings& s, bool tracker) {
  const float values[] = {s.cutoff, s.octave, s.scale, s.order, s.lowest, s.threshold, s.hold};
  for (uint32_t id = 0; id < tonevolt::ControlCount(tracker); ++id) {
    if (id == tonevolt::kControlLowest) continue;  // applies at activation only
    events->push_back({at, static_cast<ControlId>(id), values[id]});
  }
}

// --params: one line per parameter, ID NAME MIN MAX DEFAULT VALUE.
struct ParamLine {
  uint32_t id;
  std::string name;
  float min, max, def, value;  // printed as %.9g: each float exactly
};

std::vector<ParamLine> ParseParams(const std::string& text) {
  std::vector<ParamLine> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    ParamLine p;
    std::string id, min, max, def, value;
    if (!std::getline(fields, id, '\t') || !std::getline(fields, p.name, '\t') ||
        !std::getline(fields, min, '\t') || !std::getline(fields, max, '\t') ||
        !std::getline(fields, def, '\t') || !std::getline(fields, value))
      continue;
    p.id = static_cast<uint32_t>(std::stoul(id));
    p.min = std::strtof(min.c_str(), nullptr);
    p.max = std::strtof(max.c_str(), nullptr);
    p.def = std::strtof(def.c_str(), nullptr);
    p.value = std::strtof(value.c_str(), nullptr);
    lines.push_back(p);
  }
  return lines;
}

const Settings kPlainDefaults = {kCutoffDefaultHz, 0, kScaleDefault,
                                 static_cast<float>(OrderPolesOfIndex(kOrderDefault))};

}  // namespace

// Settings changed at samples that fall inside the hosts' blocks, at three
// rates: each change takes effect at its sample, as pin changes at that
// sample do in the module.
TEST(PluginFormats, PlainPlugInsEqualTheModuleWithChangesMidBlock) {
  SKIP_WITHOUT_REFERENCE();
  struct Case {
    double rate;
    std::vector<Change> changes;
  };
  const Case kCases[] = {
      {44100.0,
       {{0, kPlainDefaults, kPlainDefaults},
        {3001, {200.0f, 1, 1, 1}, {200.0f, 1, 1, 1}},
        {9007, {200.0f, 1, 1, 2}, {200.0f, 1, 1, 2}},
        {20011, {777.25f, -2, 0, 2}, {777.25f, -2, 0, 2}}}},
      {48000.0,
       {{0, {20.0f, 0, 1, 2}, {20.0f, 0, 1, 2}},
        {4097, {5000.0f, 3, 1, 1}, {5000.0f, 3, 1, 1}},
        {30000, {10.0f, -3, 0, 2}, {10.0f, -3, 0, 2}}}},
      {96000.0,
       {{0, {327.25f, 2, 0, 1}, {327.25f, 2, 0, 1}}, {12345, {40.0f, 0, 1, 2}, {40.0f, 0, 1, 2}}}},
  };
  for (const Target& target : kTargets) {
    if (!Available(target)) continue;
    for (const Case& c : kCases) {
      SCOPED_TRACE(std::string(target.name) + " at " + std::to_string(c.rate));
      const std::vector<float> input = TestSignal(c.rate, 31);
      RunOptions options;
      for (const Change& change : c.changes)
        AddSettings(&options.events, change.at, change.ports, false);
      const Render render = RunHost(target, false, c.rate, 7, input, options);
      ExpectSameBits(ModuleRender(c.rate, c.changes, input), render.pitch, target.name);
      EXPECT_NE(render.run.err.find("latency 0"), std::string::npos) << render.run.err;
    }
  }
}

// A melody of sawtooth notes with rests, settings changed inside blocks,
// on a playing transport or none: pitch and gate equal the LV2 tracker's
// given the same changes and positions.
TEST(PluginFormats, TrackersEqualTheLv2Tracker) {
  const std::vector<Segment> melody = {{0.3, 0, -200}, {0.6, 110.0, -12}, {0.4, 146.83, -18},
                                       {0.2, 0, -200}, {0.7, 220.0, -9},  {0.5, 196.0, -30},
                                       {0.4, 0, -200}};
  const Settings start = {kTrackerCutoffDefaultHz, 0, 1, 2, kLowestDefaultHz,
                          kThresholdDefaultDb,     1};
  struct Case {
    double rate;
    std::vector<Change> changes;
    std::vector<int64_t> timeline;  // none, or where the input starts on a playing transport
  };
  const Case kCases[] = {
      {48000.0, {{0, start, start}}, {}},
      {44100.0,
       {{0, start, start},
        {30011, {25.0f, 1, 1, 1, kLowestDefaultHz, -40.0f, 0}, {}},
        {70001, {12.5f, -1, 0, 2, kLowestDefaultHz, -60.0f, 1}, {}}},
       {}},
      {48000.0, {{0, start, start}}, {1000003}},
      {96000.0, {{0, start, start}}, {-777}},
  };
  for (const Target& target : kTargets) {
    if (!Available(target)) continue;
    for (const Case& c : kCases) {
      SCOPED_TRACE(std::string(target.name) + " at " + std::to_string(c.rate));
      const std::vector<float> input = Saws(c.rate, melody);
      RunOptions options;
      for (const Change& change : c.changes)
        AddSettings(&options.events, change.at, change.ports, true);
      const int64_t* timeline = c.timeline.empty() ? nullptr : &c.timeline[0];
      options.timeline = timeline;
      const Render render = RunHost(target, true, c.rate, 11, input, options);
      RunChecks checks;
      const TrackerRender lv2 =
          RenderTracker(kTrackerAudioUri, c.rate, c.changes, input, 5, &checks, timeline);
      ExpectSameBits(lv2.pitch, render.pitch, std::string(target.name) + " pitch");
      ExpectSameBits(lv2.gate, render.gate, std::string(target.name) + " gate");
      EXPECT_FALSE(OpenStretches(render.gate).empty()) << "the gate never opened";
    }
  }
}

// Every parameter as the table gives it, by id; a saved state brings every
// setting back, `lowest` included, and renders as the settings it holds.
TEST(PluginFormats, ParametersAndStateRoundTrip) {
  const double rate = 48000.0;
  const std::vector<float> input =
      Saws(rate, {{0.5, 130.81, -12}, {0.5, 0, -200}, {0.5, 261.63, -20}});
  for (const Target& target : kTargets) {
    if (!Available(target)) continue;
    for (const bool tracker : {false, true}) {
      SCOPED_TRACE(std::string(target.name) + (tracker ? " tracker" : " plain"));
      const std::string state =
          WorkPath(std::string(target.name) + (tracker ? ".tracker" : ".plain") + ".state");
      RunOptions first;
      const Settings chosen = {123.5f, -1, 1, 2, 80.0f, -45.5f, 0};
      AddSettings(&first.events, 0, chosen, tracker);
      first.events.push_back({0, tonevolt::kControlLowest, chosen.lowest});
      first.save_state = state;
      first.params = true;
      const Render made = RunHost(target, tracker, rate, 3, input, first);
      const std::vector<ParamLine> defaults = ParseParams(made.run.out);
      ASSERT_EQ(defaults.size(), tonevolt::ControlCount(tracker)) << made.run.out;
      for (const ParamLine& p : defaults) {
        ASSERT_LT(p.id, tonevolt::kTrackerControlCount);
        const tonevolt::ControlInfo& control = kControls[p.id];
        EXPECT_EQ(p.name, control.name);
        EXPECT_EQ(p.min, control.min) << control.name;
        EXPECT_EQ(p.max, control.max) << control.name;
        EXPECT_EQ(p.def, control.Default(tracker)) << control.name;
        EXPECT_EQ(p.value, control.Default(tracker)) << control.name;
      }
      RunOptions second;
      second.load_state = state;
      second.params = true;
      const Render restored = RunHost(target, tracker, rate, 4, input, second);
      const float values[] = {chosen.cutoff, chosen.octave,    chosen.scale, chosen.order,
                              chosen.lowest, chosen.threshold, chosen.hold};
      const std::vector<ParamLine> back = ParseParams(restored.run.out);
      ASSERT_EQ(back.size(), tonevolt::ControlCount(tracker)) << restored.run.out;
      for (const ParamLine& p : back) EXPECT_EQ(p.value, values[p.id]) << kControls[p.id].name;
      if (!tracker) {
        ExpectSameBits(made.pitch, restored.pitch, "the same settings from state as from events");
        continue;
      }
      // The restored tracker is designed for the saved lowest note.
      RunChecks checks;
      const TrackerRender lv2 =
          RenderTracker(kTrackerAudioUri, rate, {{0, chosen, chosen}}, input, 9, &checks);
      ExpectSameBits(lv2.pitch, restored.pitch, "pitch from state");
      ExpectSameBits(lv2.gate, restored.gate, "gate from state");
    }
  }
}

// State that is not one the plug-in saved is refused: the defaults stay,
// and nothing breaks.
TEST(PluginFormats, CorruptOrForeignStateIsRefused) {
  const double rate = 44100.0;
  const std::vector<float> input = Saws(rate, {{0.3, 220.0, -12}});
  for (const Target& target : kTargets) {
    if (!Available(target)) continue;
    // A good state of each kind to spoil.
    std::string good[2];
    for (const bool tracker : {false, true}) {
      RunOptions save;
      save.save_state =
          WorkPath(std::string(target.name) + (tracker ? ".tracker" : ".plain") + ".good");
      AddSettings(&save.events, 0, {300.0f, 1, 1, 2, 41.2f, -30.0f, 0}, tracker);
      RunHost(target, tracker, rate, 1, input, save);
      good[tracker] = Slurp(save.save_state);
      ASSERT_FALSE(good[tracker].empty()) << target.name;
    }
    for (const bool tracker : {false, true}) {
      const std::string& mine = good[tracker];
      std::string out_of_range = mine;
      out_of_range[out_of_range.size() - 1] = '\x7f';  // the last value's sign and exponent
      std::string unknown_id = mine;
      unknown_id[6] = 99;
      std::string random(37, '\0');
      for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>(i * 73 + 19);
      const std::pair<const char*, std::string> kBad[] = {
          {"empty", ""},
          {"truncated", mine.substr(0, mine.size() - 1)},
          {"one byte long", mine + "x"},
          {"another kind's", good[!tracker]},
          {"wrong magic", "XY" + mine.substr(2)},
          {"newer version", mine.substr(0, 3) + "\x02" + mine.substr(4)},
          {"unknown id", unknown_id},
          {"value out of range", out_of_range},
          {"random bytes", random},
          {"large", std::string(1 << 20, 'T')},
      };
      for (const auto& [what, bytes] : kBad) {
        SCOPED_TRACE(std::string(target.name) + (tracker ? " tracker, " : " plain, ") + what);
        const std::string path = WorkPath("bad.state");
        std::ofstream(path, std::ios::binary) << bytes;
        RunOptions load;
        load.load_state = path;
        load.params = true;
        const Render render = RunHost(target, tracker, rate, 2, input, load);
        const std::vector<ParamLine> params = ParseParams(render.run.out);
        ASSERT_EQ(params.size(), tonevolt::ControlCount(tracker)) << render.run.out;
        for (const ParamLine& p : params) EXPECT_EQ(p.value, p.def) << kControls[p.id].name;
        EXPECT_EQ(render.pitch.size(), input.size());
      }
    }
  }
}
