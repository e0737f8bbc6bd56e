// The values options take, read from their text forms: frequencies as Hz or
// note names, and the pre-filter choices built on them.
#include "options/Values.h"

#include <gtest/gtest.h>

namespace tonevolt {
namespace {

struct Reading {
  const char* text;
  double hz;
};

TEST(ParseFrequency, ReadsHzAndNoteNames) {
  const Reading kReadings[] = {
      {"220", 220.0},
      {"27.5", 27.5},
      {"1", 1.0},
      {"20000", 20000.0},
      {"2.5e3", 2500.0},
      {"440Hz", 440.0},
      {"A4", 440.0},
      {"a4", 440.0},
      {"A0", 27.5},
      {"E1", 41.20344461410875},
      {"C4", 261.6255653005986},
      {"C#5", 554.3652619537442},
      {"Bb3", 233.08188075904496},
      {"bb3", 233.08188075904496},
      {"A#3", 233.08188075904496},
      {"B#3", 261.6255653005986},   // enharmonic of C4
      {"Cb4", 246.94165062806206},  // of B3
      {"C-1", 8.175798915643707},   // MIDI note 0
      {"D#10", 19912.12695821318},
  };
  for (const Reading& reading : kReadings) {
    double hz = 0;
    std::string error;
    EXPECT_TRUE(ParseFrequency(reading.text, &hz, &error)) << reading.text << ": " << error;
    EXPECT_NEAR(hz, reading.hz, reading.hz * 1e-12) << reading.text;
  }
}

TEST(ParseFrequency, RejectsWithAOneLineError) {
  const char* kRejects[] = {"H2",   "",      "-5",  "0",  "nan",  "NaN",  "inf", "1e9",
                            "0.5",  "20001", "E10", "A",  "C#",   "A4x",  "A 4", " 220",
                            "0x10", "1.2.3", "1e",  "Hz", "A4Hz", "C##4", "Ab",  "A123"};
  for (const char* text : kRejects) {
    double hz = 123;
    std::string error;
    EXPECT_FALSE(ParseFrequency(text, &hz, &error)) << text;
    EXPECT_EQ(hz, 123) << text << " wrote its result";
    EXPECT_FALSE(error.empty()) << text;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_NE(error.find(std::string("'") + text + "'"), std::string::npos) << error;
  }
}

// LOW-HIGH splits at the dash whose both sides are frequencies, so that a
// note below C0 keeps its minus sign.
TEST(ParseFrequencyRange, SplitsAtTheDashThatLeavesTwoFrequencies) {
  struct Case {
    const char* text;
    double low, high;
  };
  const Case kCases[] = {
      {"E1-A3", 41.20344461410875, 220.0},
      {"41.2-220", 41.2, 220.0},
      {"C-1-C3", 8.175798915643707, 130.8127826502993},
      {"A4-A4", 440.0, 440.0},
      {"A-1-20Hz", 13.75, 20.0},
  };
  for (const Case& c : kCases) {
    double low = 0, high = 0;
    std::string error;
    ASSERT_TRUE(ParseFrequencyRange(c.text, &low, &high, &error)) << c.text << ": " << error;
    EXPECT_NEAR(low, c.low, c.low * 1e-12) << c.text;
    EXPECT_NEAR(high, c.high, c.high * 1e-12) << c.text;
  }
  struct Refusal {
    const char* text;
    const char* error;
  };
  const Refusal kRefusals[] = {
      {"A3-E1", "'A3-E1' runs downwards: give LOW-HIGH"},
      {"E1", "'E1' is not LOW-HIGH (such as E1-A3 or 41.2-220)"},
      {"-220", "'-220' is not LOW-HIGH (such as E1-A3 or 41.2-220)"},
      {"E1-", "'E1-' is not LOW-HIGH (such as E1-A3 or 41.2-220)"},
      {"E1-H3", "'E1-H3' is not LOW-HIGH (such as E1-A3 or 41.2-220)"},
  };
  for (const Refusal& r : kRefusals) {
    double low = 0, high = 0;
    std::string error;
    EXPECT_FALSE(ParseFrequencyRange(r.text, &low, &high, &error)) << r.text;
    EXPECT_EQ(error, r.error);
  }
}

TEST(ParsePrefilter, ReadsEveryForm) {
  struct Case {
    const char* text;
    PrefilterChoice::Kind kind;
    double hz;
    bool hold;
  };
  const Case kCases[] = {
      {"off", PrefilterChoice::Kind::kOff, 0, false},
      {"OFF", PrefilterChoice::Kind::kOff, 0, false},
      {"range:110", PrefilterChoice::Kind::kRange, 110, false},
      {"range:E1", PrefilterChoice::Kind::kRange, 41.20344461410875, false},
      {"note:440", PrefilterChoice::Kind::kNote, 440, false},
      {"note:A4", PrefilterChoice::Kind::kNote, 440, false},
      {"Note:c#5", PrefilterChoice::Kind::kNote, 554.3652619537442, false},
      {"follow", PrefilterChoice::Kind::kFollow, 0, false},
      {"live", PrefilterChoice::Kind::kLive, 0, false},
      {"live:hold", PrefilterChoice::Kind::kLive, 0, true},
      {"Live:HOLD", PrefilterChoice::Kind::kLive, 0, true},
  };
  for (const Case& c : kCases) {
    PrefilterChoice choice;
    std::string error;
    ASSERT_TRUE(ParsePrefilter(c.text, &choice, &error)) << c.text << ": " << error;
    EXPECT_EQ(choice.kind, c.kind) << c.text;
    EXPECT_NEAR(choice.hz, c.hz, 1e-9) << c.text;
    EXPECT_EQ(choice.hold, c.hold) << c.text;
  }
  for (const char* text :
       {"", "on", "band:100", "range", "range:", "note:H2", "range:0", "note:-5", "off:1",
        "range:110:220", "live:", "live:keep", "follow:hold", "live:hold:1", "livehold"}) {
    PrefilterChoice choice;
    std::string error;
    EXPECT_FALSE(ParsePrefilter(text, &choice, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace tonevolt
