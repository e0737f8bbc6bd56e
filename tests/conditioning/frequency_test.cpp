#include "conditioning/Frequency.h"

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

}  // namespace
}  // namespace tonevolt
