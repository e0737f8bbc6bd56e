// One contract, three surfaces: the module's description as the built 32-bit
// module gives it (through the tool's describe, which loads it), the LV2
// bundle's description as a host reads it (liblilv), and the tool's help.
// Each is checked against core/TonevoltPins.h, so that none can go on
// offering what the others no longer do. (The published values themselves
// are pinned by the description tests of each surface.)
#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Lv2Rig.h"
#include "ScalePoints.h"
#include "TonevoltPins.h"
#include "conditioning/LiveTracker.h"

namespace {

// What a running program printed on standard output.
std::string Output(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
  pclose(pipe);
  return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

// The labels of a list as the module writes it: "label=index,..." with the
// indices counting from 0, or "label,...".
template <size_t kCount>
void ExpectList(const std::string& extra, const char* const (&labels)[kCount], bool indexed) {
  const std::vector<std::string> entries = Split(extra, ',');
  ASSERT_EQ(entries.size(), kCount) << extra;
  for (size_t index = 0; index < kCount; ++index) {
    const std::string want =
        std::string(labels[index]) + (indexed ? "=" + std::to_string(index) : std::string());
    EXPECT_EQ(entries[index], want) << extra;
  }
}

struct DescribedPin {
  std::string default_value, extra;
};

// The pins as `tonevolt describe` prints them: index, "name", direction,
// type, default, then the list or range to the end of the line.
std::vector<DescribedPin> DescribedPins(const std::string& text) {
  std::vector<DescribedPin> pins;
  for (const std::string& line : Split(text, '\n')) {
    const size_t close = line.find("\"  ", line.find('"') + 1);
    if (line.empty() || line[0] < '0' || line[0] > '9' || close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    std::string direction, type;
    DescribedPin pin;
    rest >> direction >> type >> pin.default_value >> std::ws;
    std::getline(rest, pin.extra);
    pins.push_back(pin);
  }
  return pins;
}

TEST(Contract, TheModuleDescribesItsPinsFromTheContract) {
  SKIP_WITHOUT_TOOL();
  const std::string text =
      Output(std::string("'" TONEVOLT_PROGRAM "' describe --module '" TONEVOLT_NATIVE_MODULE "'"));
  const std::vector<DescribedPin> pins = DescribedPins(text);
  ASSERT_EQ(pins.size(), static_cast<size_t>(kModulePinCount)) << text;

  // The cutoff: the slider's range and the value's, highest first, "N.f".
  const DescribedPin& cutoff = pins[PIN_FILTER_CUTOFF];
  EXPECT_EQ(std::strtof(cutoff.default_value.c_str(), nullptr), kCutoffDefaultHz) << text;
  const std::vector<std::string> range = Split(cutoff.extra, ',');
  ASSERT_EQ(range.size(), 4u) << cutoff.extra;
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(range[k].substr(range[k].size() - 2), ".f") << cutoff.extra;
    EXPECT_EQ(std::strtof(range[k].c_str(), nullptr), k % 2 == 0 ? kCutoffMaxHz : kCutoffMinHz)
        << cutoff.extra;
  }
  EXPECT_EQ(pins[PIN_OCTAVE].default_value, std::to_string(kOctaveDefaultIndex));
  ExpectList(pins[PIN_OCTAVE].extra, kOctaveLabels, true);
  EXPECT_EQ(pins[PIN_FREQ_SCALE].default_value, std::to_string(kScaleDefault));
  ExpectList(pins[PIN_FREQ_SCALE].extra, kScaleLabels, false);
  EXPECT_EQ(pins[PIN_FILTER_ORDER].default_value, std::to_string(kOrderDefault));
  ExpectList(pins[PIN_FILTER_ORDER].extra, kOrderLabels, true);
}

// A control port as a host reads it: range, default and scale points.
struct ControlPort {
  const char* symbol;
  float minimum, maximum, fallback;
  std::vector<std::pair<float, std::string>> points;  // in list order
};

template <size_t kCount>
std::vector<std::pair<float, std::string>> Points(const char* const (&labels)[kCount],
                                                  int32_t first_value) {
  std::vector<std::pair<float, std::string>> points;
  for (size_t index = 0; index < kCount; ++index)
    points.emplace_back(static_cast<float>(first_value + static_cast<int32_t>(index)),
                        labels[index]);
  return points;
}

TEST(Contract, TheLv2BundleDescribesItsPortsFromTheContract) {
  // The order port counts poles; the octave port takes the shift.
  const int32_t kFirstPoles = 1;
  const ControlPort kPorts[] = {
      {"cutoff", kCutoffMinHz, kCutoffMaxHz, kCutoffDefaultHz, {}},
      {"octave", kOctaveMin, kOctaveMax, static_cast<float>(kOctaveDefaultIndex + kOctaveMin),
       Points(kOctaveLabels, kOctaveMin)},
      {"scale", 0, sizeof kScaleLabels / sizeof kScaleLabels[0] - 1.0f,
       static_cast<float>(kScaleDefault), Points(kScaleLabels, 0)},
      {"order", kFirstPoles, kFirstPoles + sizeof kOrderLabels / sizeof kOrderLabels[0] - 1.0f,
       static_cast<float>(kFirstPoles + kOrderDefault), Points(kOrderLabels, kFirstPoles)},
  };
  LilvWorld* world = World();
  for (const char* uri : kAllPluginUris) {
    SCOPED_TRACE(uri);
    const LilvPlugin* plugin = FindPlugin(uri);
    ASSERT_NE(plugin, nullptr);
    for (const ControlPort& want : kPorts) {
      SCOPED_TRACE(want.symbol);
      LilvNode* symbol = lilv_new_string(world, want.symbol);
      const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, symbol);
      lilv_node_free(symbol);
      ASSERT_NE(port, nullptr);
      LilvNode *fallback, *minimum, *maximum;
      lilv_port_get_range(plugin, port, &fallback, &minimum, &maximum);
      EXPECT_EQ(lilv_node_as_float(minimum), want.minimum);
      EXPECT_EQ(lilv_node_as_float(maximum), want.maximum);
      // The trackers' cutoff defaults to their lowest note's / 16, at least
      // the module's least.
      const bool tracker_cutoff = std::string(want.symbol) == "cutoff" &&
                                  std::string(uri).find("tracker") != std::string::npos;
      // Their order defaults to two poles, what the advice gives a line
      // with that cutoff.
      const bool tracker_order = std::string(want.symbol) == "order" &&
                                 std::string(uri).find("tracker") != std::string::npos;
      EXPECT_EQ(
          lilv_node_as_float(fallback),
          tracker_cutoff
              ? std::max(kCutoffMinHz, static_cast<float>(tonevolt::LiveOptions{}.lowest_hz / 16))
          : tracker_order ? static_cast<float>(OrderPolesOfIndex(kOrderTwoPoles))
                          : want.fallback);
      for (LilvNode* n : {fallback, minimum, maximum}) lilv_node_free(n);
      EXPECT_EQ(ScalePoints(plugin, port), want.points);
    }
    // The tracker's own defaults are the tracker's (LiveOptions).
    const tonevolt::LiveOptions tracker_defaults;
    for (const auto& [symbol_text, want] :
         {std::pair<const char*, double>{"lowest", tracker_defaults.lowest_hz},
          std::pair<const char*, double>{"threshold", tracker_defaults.threshold_db}}) {
      LilvNode* symbol = lilv_new_string(world, symbol_text);
      const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, symbol);
      lilv_node_free(symbol);
      if (lilv_plugin_get_num_ports(plugin) == 6) {
        EXPECT_EQ(port, nullptr) << symbol_text;
        continue;
      }
      ASSERT_NE(port, nullptr) << symbol_text;
      // lowest acts only at activation: hosts must not offer it an automation lane.
      LilvNode* not_automatic =
          lilv_new_uri(world, "http://lv2plug.in/ns/ext/port-props#notAutomatic");
      EXPECT_EQ(lilv_port_has_property(plugin, port, not_automatic),
                std::string(symbol_text) == "lowest")
          << symbol_text;
      lilv_node_free(not_automatic);
      LilvNode* fallback;
      lilv_port_get_range(plugin, port, &fallback, nullptr, nullptr);
      EXPECT_EQ(lilv_node_as_float(fallback), static_cast<float>(want)) << symbol_text;
      lilv_node_free(fallback);
    }
    // The trackers take the host's transport position on their last port,
    // after every port hosts knew before it.
    {
      LilvNode* symbol = lilv_new_string(world, "position");
      const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, symbol);
      lilv_node_free(symbol);
      if (lilv_plugin_get_num_ports(plugin) == 6) {
        EXPECT_EQ(port, nullptr);
      } else {
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(lilv_port_get_index(plugin, port), lilv_plugin_get_num_ports(plugin) - 1);
        LilvNode* position = lilv_new_uri(world, "http://lv2plug.in/ns/ext/time#Position");
        EXPECT_TRUE(lilv_port_supports_event(plugin, port, position));
        lilv_node_free(position);
      }
    }
    // Hosts name the maker from doap:maintainer; without one they show "Unknown".
    LilvNode* author = lilv_plugin_get_author_name(plugin);
    ASSERT_NE(author, nullptr);
    EXPECT_STREQ(lilv_node_as_string(author), "Tonevolt developers");
    lilv_node_free(author);
  }
}

TEST(Contract, TheToolsHelpOffersTheContractsRanges) {
  SKIP_WITHOUT_TOOL();
  const std::string help = Output("'" TONEVOLT_PROGRAM "' --help");
  std::ostringstream cutoff, octave;
  cutoff << kCutoffMinHz << ".." << kCutoffMaxHz << " (default " << kCutoffDefaultHz << ")";
  octave << kOctaveMin << "..+" << kOctaveMax << " (default " << kOctaveDefaultIndex + kOctaveMin
         << ")";
  EXPECT_NE(help.find(cutoff.str()), std::string::npos) << cutoff.str() << " in\n" << help;
  EXPECT_NE(help.find("octave shift, " + octave.str()), std::string::npos)
      << octave.str() << " in\n"
      << help;
}

}  // namespace
