// Writes the bundle's manifest.ttl and tonevolt.ttl from the published
// contract (TonevoltPins.h), the plug-ins and their ports (Lv2Ports.h) and
// the tracker's constants (conditioning/LiveTracker.h), so that a change to a
// URI, range, default or list entry reaches the LV2 hosts as it reaches the
// module. BINARY is the shared object's file name in the bundle.
//
//   tonevolt_ttl_writer BUNDLE_DIR BINARY MINOR_VERSION MICRO_VERSION
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Lv2Ports.h"
#include "OutputUnits.h"
#include "TonevoltPins.h"

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  std::string text(static_cast<size_t>(std::vsnprintf(nullptr, 0, format, args)), '\0');
  std::vsnprintf(&text[0], text.size() + 1, format, again);
  va_end(again);
  va_end(args);
  return text;
}

// A decimal literal with a point, as short as reads back as the same float.
std::string Decimal(float value) {
  for (int digits = 1;; ++digits) {
    std::string text = Format("%.*f", digits, value);
    if (std::strtof(text.c_str(), nullptr) == value || digits == 9) return text;
  }
}

// A string literal's text; the contract's labels need no escapes.
const char* Quoted(const char* text) {
  if (std::strpbrk(text, "\"\\\n") != nullptr) {
    std::fprintf(stderr, "tonevolt_ttl_writer: a label needs escaping: %s\n", text);
    std::exit(1);
  }
  return text;
}

template <size_t kCount>
std::string ScalePoints(const char* const (&labels)[kCount], int32_t (*value)(int32_t)) {
  std::string text = "\t\tlv2:scalePoint";
  for (size_t index = 0; index < kCount; ++index) {
    text += Format("%s[ rdfs:label \"%s\" ; rdf:value %d ]", index == 0 ? " " : " ,\n\t\t\t",
                   Quoted(labels[index]), value(static_cast<int32_t>(index)));
  }
  return text + "\n";
}

// A list port: integer and enumeration, its range the list's ends.
template <size_t kCount>
std::string ListPort(PortIndex index, const char* symbol, const char* name, const char* comment,
                     int32_t default_index, const char* const (&labels)[kCount],
                     int32_t (*value)(int32_t)) {
  return Format(
             "\t] , [\n"
             "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
             "\t\tlv2:index %d ;\n"
             "\t\tlv2:symbol \"%s\" ;\n"
             "\t\tlv2:name \"%s\" ;\n"
             "\t\trdfs:comment \"%s\" ;\n"
             "\t\tlv2:default %d ;\n"
             "\t\tlv2:minimum %d ;\n"
             "\t\tlv2:maximum %d ;\n"
             "\t\tlv2:portProperty lv2:integer , lv2:enumeration ;\n",
             index, symbol, name, comment, value(default_index), value(0),
             value(static_cast<int32_t>(kCount) - 1)) +
         ScalePoints(labels, value);
}

int32_t Itself(int32_t index) { return index; }

struct Plugin {
  const char* uri;
  const char* name;
  const char* use;           // the end of its comment
  const char* output_class;  // the outputs' (pitch, gate)
  bool tracker;              // the live tracker ahead of the module
};

// The tracker plug-ins' ports after the module's.
std::string TrackerPorts(const char* output_class) {
  return Format(
      "\t] , [\n"
      "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
      "\t\tlv2:index %d ;\n"
      "\t\tlv2:symbol \"lowest\" ;\n"
      "\t\tlv2:name \"Lowest Note\" ;\n"
      "\t\trdfs:comment \"The lowest note to expect: the longest period the tracker searches and "
      "its lowest band. 0 turns the tracker off (the module's output, no gate, no hold); values "
      "below %g Hz act as %g Hz. Read at activation: a new value takes effect when the plug-in "
      "is next activated, so it is marked not for automation.\" ;\n"
      "\t\tlv2:portProperty pprops:notAutomatic ;\n"
      "\t\tlv2:default %s ;\n"
      "\t\tlv2:minimum %s ;\n"
      "\t\tlv2:maximum %s ;\n"
      "\t\tunits:unit units:hz\n"
      "\t] , [\n"
      "\t\ta lv2:OutputPort , lv2:%s ;\n"
      "\t\tlv2:index %d ;\n"
      "\t\tlv2:symbol \"gate\" ;\n"
      "\t\tlv2:name \"Gate\" ;\n"
      "\t\trdfs:comment \"1 while the tracker holds a pitch, else 0. It opens on a pitch above "
      "the threshold and closes %g dB below it, or when the pitch has been gone for %g s.\"\n"
      "\t] , [\n"
      "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
      "\t\tlv2:index %d ;\n"
      "\t\tlv2:symbol \"threshold\" ;\n"
      "\t\tlv2:name \"Gate Threshold\" ;\n"
      "\t\trdfs:comment \"The input level (RMS, dBFS; a full-scale sine is -3.01) above which "
      "the gate opens on a pitch.\" ;\n"
      "\t\tlv2:default %s ;\n"
      "\t\tlv2:minimum %s ;\n"
      "\t\tlv2:maximum %s ;\n"
      "\t\tunits:unit units:db\n"
      "\t] , [\n"
      "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
      "\t\tlv2:index %d ;\n"
      "\t\tlv2:symbol \"hold\" ;\n"
      "\t\tlv2:name \"Hold\" ;\n"
      "\t\trdfs:comment \"While the gate is closed, the pitch output keeps the last note's "
      "value instead of falling to the no-pitch reading.\" ;\n"
      "\t\tlv2:default %d ;\n"
      "\t\tlv2:minimum 0 ;\n"
      "\t\tlv2:maximum 1 ;\n"
      "\t\tlv2:portProperty lv2:toggled\n"
      "\t] , [\n"
      "\t\ta lv2:OutputPort , lv2:ControlPort ;\n"
      "\t\tlv2:index %d ;\n"
      "\t\tlv2:symbol \"latency\" ;\n"
      "\t\tlv2:name \"Latency\" ;\n"
      "\t\trdfs:comment \"Samples the output is held back by: none. The tracker's band-pass "
      "still delays the fundamental by its group delay (docs/lv2.md).\" ;\n"
      "\t\tlv2:designation lv2:latency ;\n"
      "\t\tlv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
      "\t\tunits:unit units:frame\n"
      "\t] , [\n"
      "\t\ta lv2:InputPort , atom:AtomPort ;\n"
      "\t\tatom:bufferType atom:Sequence ;\n"
      "\t\tatom:supports time:Position ;\n"
      "\t\tlv2:index %d ;\n"
      "\t\tlv2:symbol \"position\" ;\n"
      "\t\tlv2:name \"Transport Position\" ;\n"
      "\t\tlv2:portProperty lv2:connectionOptional ;\n"
      "\t\trdfs:comment \"The host's transport position (time:frame, time:speed). While the "
      "transport plays, the tracker's frames are put on the timeline, so that a render does not "
      "depend on how many samples the plug-in ran before it. Needs the host's urid:map; without "
      "it, without a position or left unconnected, the frames start at activation.\"\n",
      kPortLowest, tonevolt::LiveTracker::kLowestHz, tonevolt::LiveTracker::kLowestHz,
      Decimal(kLowestDefaultHz).c_str(), Decimal(kLowestOffHz).c_str(),
      Decimal(kLowestMaxHz).c_str(), output_class, kPortGate,
      tonevolt::LiveTracker::kGateHysteresisDb, tonevolt::LiveTracker::kGateCloseSeconds,
      kPortThreshold, Decimal(kThresholdDefaultDb).c_str(), Decimal(kThresholdMinDb).c_str(),
      Decimal(kThresholdMaxDb).c_str(), kPortHold, kHoldDefault, kPortLatency, kPortPosition);
}

std::string Describe(const Plugin& plugin, int minor, int micro) {
  const std::string pitch_comment = Format(
      "The module's own values: 1.0 stands for %g V. 1 V/kHz: %g per kHz. 1 V/Octave: %g at %g "
      "Hz, %g per octave, %g when there is no pitch. The gain is set for %g Hz: at another sample "
      "rate a frequency f reads as f * %g / rate.",
      kVoltsPerUnit, KhzValueOfReadHz(1000.0), kOctaveReferenceVolts / kVoltsPerUnit,
      kOctaveReferenceHz, 1.0 / kVoltsPerUnit, kNoPitchVolts / kVoltsPerUnit, kReferenceRate,
      kReferenceRate);
  std::string text = Format(
      "<%s>\n"
      "\ta lv2:Plugin , lv2:ConverterPlugin , doap:Project ;\n"
      "\tdoap:name \"%s\" ;\n"
      "\tdoap:license <https://spdx.org/licenses/MIT> ;\n"
      "\tdoap:maintainer [\n"
      "\t\ta foaf:Person ;\n"
      "\t\tfoaf:name \"Tonevolt developers\"\n"
      "\t] ;\n"
      "\trdfs:comment \"Frequency to voltage converter: measures the frequency of an audio signal "
      "by counting its zero crossings and outputs a control voltage, 1 V/kHz or 1 V/octave. %s\" "
      ";\n"
      "\tlv2:minorVersion %d ;\n"
      "\tlv2:microVersion %d ;\n"
      "\tlv2:optionalFeature lv2:hardRTCapable%s ;\n"
      "\tlv2:port [\n"
      "\t\ta lv2:InputPort , lv2:AudioPort ;\n"
      "\t\tlv2:index %d ;\n"
      "\t\tlv2:symbol \"input\" ;\n"
      "\t\tlv2:name \"Input\" ;\n"
      "\t\trdfs:comment \"The signal whose frequency is measured from its zero crossings.\"\n"
      "\t] , [\n"
      "\t\ta lv2:OutputPort , lv2:%s ;\n"
      "\t\tlv2:index %d ;\n"
      "\t\tlv2:symbol \"pitch\" ;\n"
      "\t\tlv2:name \"Pitch\" ;\n"
      "\t\trdfs:comment \"%s\"\n"
      "\t] , [\n"
      "\t\ta lv2:InputPort , lv2:ControlPort ;\n"
      "\t\tlv2:index %d ;\n"
      "\t\tlv2:symbol \"cutoff\" ;\n"
      "\t\tlv2:name \"Filter Cutoff\" ;\n"
      "\t\trdfs:comment \"Cutoff of the low-pass that smooths the pulse train.\" ;\n"
      "\t\tlv2:default %s ;\n"
      "\t\tlv2:minimum %s ;\n"
      "\t\tlv2:maximum %s ;\n"
      "\t\tunits:unit units:hz ;\n"
      "\t\tlv2:portProperty pprops:logarithmic\n",
      plugin.uri, plugin.name, plugin.use, minor, micro, plugin.tracker ? " , urid:map" : "",
      kPortInput, plugin.output_class, kPortPitch, pitch_comment.c_str(), kPortCutoff,
      Decimal(plugin.tracker ? kTrackerCutoffDefaultHz : kCutoffDefaultHz).c_str(),
      Decimal(kCutoffMinHz).c_str(), Decimal(kCutoffMaxHz).c_str());
  text += ListPort(kPortOctave, "octave", "Octave", "Octave shift of the output.",
                   kOctaveDefaultIndex, kOctaveLabels, OctaveShiftOfIndex);
  text += ListPort(kPortScale, "scale", "Freq Scale",
                   "Output scaling: linear in frequency, or logarithmic through the module's "
                   "table.",
                   kScaleDefault, kScaleLabels, Itself);
  text += ListPort(kPortOrder, "order", "Filter Order", "Poles of the low-pass.",
                   plugin.tracker ? kTrackerOrderDefault : kOrderDefault, kOrderLabels,
                   OrderPolesOfIndex);
  if (plugin.tracker) text += TrackerPorts(plugin.output_class);
  return text + "\t] .\n";
}

// The plug-ins' full descriptions, where the manifest points hosts.
constexpr char kDescriptionFile[] = "tonevolt.ttl";

const Plugin kPlugins[] = {
    {kCvUri, "Tonevolt (CV output)", "CV output, for modular hosts and jalv.", "CVPort", false},
    {kAudioUri, "Tonevolt (audio output)", "Audio output, for hosts that do not take CV ports.",
     "AudioPort", false},
    {kTrackerCvUri, "Tonevolt Tracker (CV output)",
     "Ahead of it, a melody tracker steers a band-pass to the tune's fundamental and opens a "
     "gate while a note sounds. CV outputs, for modular hosts and jalv.",
     "CVPort", true},
    {kTrackerAudioUri, "Tonevolt Tracker (audio output)",
     "Ahead of it, a melody tracker steers a band-pass to the tune's fundamental and opens a "
     "gate while a note sounds. Audio outputs, for hosts that do not take CV ports.",
     "AudioPort", true},
};

// What a host reads of every bundle it finds: each plug-in's URI, binary
// and where its description is.
std::string Manifest(const char* binary) {
  std::string text =
      "@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
      "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
      "\n"
      "# Written by lv2/TtlWriter.cpp from lv2/Lv2Ports.h: edit those, not this.\n";
  for (const Plugin& plugin : kPlugins) {
    text += Format(
        "\n"
        "<%s>\n"
        "\ta lv2:Plugin ;\n"
        "\tlv2:binary <%s> ;\n"
        "\trdfs:seeAlso <%s> .\n",
        plugin.uri, binary, kDescriptionFile);
  }
  return text;
}

std::string Descriptions(int minor, int micro) {
  std::string text =
      "@prefix atom:   <http://lv2plug.in/ns/ext/atom#> .\n"
      "@prefix doap:   <http://usefulinc.com/ns/doap#> .\n"
      "@prefix foaf:   <http://xmlns.com/foaf/0.1/> .\n"
      "@prefix lv2:    <http://lv2plug.in/ns/lv2core#> .\n"
      "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
      "@prefix rdf:    <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
      "@prefix rdfs:   <http://www.w3.org/2000/01/rdf-schema#> .\n"
      "@prefix time:   <http://lv2plug.in/ns/ext/time#> .\n"
      "@prefix units:  <http://lv2plug.in/ns/extensions/units#> .\n"
      "@prefix urid:   <http://lv2plug.in/ns/ext/urid#> .\n"
      "\n"
      "# Two pairs of plug-ins: the module alone, and the module behind the live tracker.\n"
      "# In each pair only the outputs' class differs.\n"
      "# Hosts save sessions and presets by port symbol: never rename one.\n"
      "# Written by lv2/TtlWriter.cpp from core/TonevoltPins.h: edit those, not this.\n";
  for (const Plugin& plugin : kPlugins) text += "\n" + Describe(plugin, minor, micro);
  return text;
}

// Written beside and renamed, so that a failed run leaves no half file.
bool WriteFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".part";
  FILE* file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr || std::fputs(text.c_str(), file) < 0 || std::fclose(file) != 0 ||
      std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "tonevolt_ttl_writer: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr,
                 "usage: tonevolt_ttl_writer BUNDLE_DIR BINARY MINOR_VERSION MICRO_VERSION\n");
    return 2;
  }
  const std::string bundle = argv[1];
  const int minor = std::atoi(argv[3]), micro = std::atoi(argv[4]);
  const bool written = WriteFile(bundle + "/" + kDescriptionFile, Descriptions(minor, micro)) &&
                       WriteFile(bundle + "/manifest.ttl", Manifest(argv[2]));
  return written ? 0 : 1;
}
