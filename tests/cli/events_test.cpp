// The events file parser alone: each line becomes a pin value at its exact
// sample, in the options' own number syntax, and a line that does not parse
// is named with its number and the reason.
#include "options/Events.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tonevolt {
namespace {

// The module's pin names, as it reports them.
const std::vector<std::string> kPinNames = {"Input",   "Filter Cutoff", "Octave",
                                            "  Pitch", "Freq Scale",    "Filter Order"};

TEST(Events, LinesBecomeChangesAtTheirSamples) {
  const std::string text =
      "# time    pin            value\n"
      "\n"
      "0.5s      Octave         +1\n"
      "48000     filter cutoff  120Hz\n"
      "1.25S     FREQ SCALE     oct\r\n"
      "   2s\tFilter Order\t2   \n"
      "1e3       Octave         -3\n";
  std::vector<Change> changes;
  std::string error;
  ASSERT_TRUE(ParseEvents(text, kPinNames, 48000, &changes, &error)) << error;
  const std::vector<Change> expected = {
      {24000, PIN_OCTAVE, OctaveIndexOfShift(1)},
      {48000, PIN_FILTER_CUTOFF, EncodeCutoff(120.0f)},
      {60000, PIN_FREQ_SCALE, EncodeScale(Scale::kVoltPerOctave)},
      {96000, PIN_FILTER_ORDER, OrderIndexOfPoles(2)},
      {1000, PIN_OCTAVE, OctaveIndexOfShift(-3)},
  };
  ASSERT_EQ(changes.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(changes[i].sample, expected[i].sample);
    EXPECT_EQ(changes[i].pin, expected[i].pin);
    EXPECT_EQ(changes[i].value, expected[i].value);
  }
}

TEST(Events, ABadLineIsNamedWithItsReason) {
  struct Case {
    const char* text;
    const char* error_starts;  // the message's start: the line and what is wrong
  };
  const Case kCases[] = {
      {"0.5s Octave\n", "line 1: "},
      {"# fine\nsoon Octave +1\n", "line 2: time 'soon'"},
      {"0x10 Octave +1\n", "line 1: time '0x10'"},
      {"-1s Octave +1\n", "line 1: time '-1s'"},
      {"5000000000 Octave +1\n", "line 1: time is beyond the 32-bit sample clock"},
      {"0 Volume 3\n", "line 1: no pin named 'volume'"},
      {"0 Input 1\n", "line 1: pin 'Input' is not a setting"},
      {"0 Octave +4\n", "line 1: "},
      {"0 Filter Cutoff inf\n", "line 1: "},
      {"0 Freq Scale volts\n", "line 1: "},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    std::vector<Change> changes;
    std::string error;
    EXPECT_FALSE(ParseEvents(c.text, kPinNames, 44100, &changes, &error));
    EXPECT_EQ(error.rfind(c.error_starts, 0), 0u) << error;
  }
}

}  // namespace
}  // namespace tonevolt
