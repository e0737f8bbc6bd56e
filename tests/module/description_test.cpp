// What Tonevolt tells a host about itself and its six pins.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "ModuleFixture.h"

namespace {

// A value no description writes: shows which fields were left alone.
const char kUntouched[] = "host's own";

struct ExpectedPin {
  const char* name;
  int32_t direction;
  int32_t data_type;
  const char* default_value;
  const char* extra;  // null: the host's field is left as it was
};

// The published pin table; hosts save patches by these indices.
const ExpectedPin kPins[] = {
    {"Input", DIR_INPUT, TYPE_AUDIO, "0", nullptr},
    {"Filter Cutoff", DIR_SETTING, TYPE_FLOAT, "40", "5000.f,10.f,5000.f,10.f"},
    {"Octave", DIR_INPUT, TYPE_ENUM, "3", "-3=0,-2=1,-1=2,0=3,+1=4,+2=5,+3=6"},
    {"  Pitch", DIR_OUTPUT, TYPE_AUDIO, "0", nullptr},
    {"Freq Scale", DIR_SETTING, TYPE_ENUM, "0", "1 Volt/kHz,1 Volt/Octave"},
    {"Filter Order", DIR_SETTING, TYPE_ENUM, "0", "1-Pole=0,2-Pole=1"},
};

PinProperties HostPrefilledPin() {
  static char variable_sentinel;
  return {&variable_sentinel, -7, -7, kUntouched, kUntouched, kUntouched};
}

class Description : public TonevoltTest {
 protected:
  void SetUp() override {
    ASSERT_NE(m_main, nullptr);
    ASSERT_TRUE(m_instance.Create(m_main));
  }
  wbhost::Instance m_instance;
};

TEST_F(Description, ModuleNameIdAndAbout) {
  struct {
    ModuleProperties fields;
    uint32_t beyond;  // hosts may pass a longer record
  } host = {{kUntouched, kUntouched, kUntouched}, 0xA5A5A5A5u};
  ASSERT_TRUE(m_instance.DescribeModule(&host.fields));
  EXPECT_STREQ(host.fields.name, "Tonevolt");
  EXPECT_STREQ(host.fields.id, "krelmor Tonevolt");
  EXPECT_EQ(host.beyond, 0xA5A5A5A5u);

  const std::string about = host.fields.about;
  const std::string first = "Tonevolt V1.1\n";
  ASSERT_EQ(about.compare(0, first.size(), first), 0) << about;
  // Four more lines, none empty, and no line feed after the last.
  std::string rest = about.substr(first.size());
  int lines = 0;
  for (size_t start = 0; start <= rest.size(); ++lines) {
    size_t end = rest.find('\n', start);
    if (end == std::string::npos) end = rest.size();
    EXPECT_GT(end, start) << "empty line " << lines << " in " << about;
    start = end + 1;
  }
  EXPECT_EQ(lines, 4) << about;
  EXPECT_NE(about.back(), '\n');
}

TEST_F(Description, SixPinsAsPublished) {
  std::set<void*> variables;
  PinProperties described[6];
  for (int32_t index = 0; index < 6; ++index) {
    SCOPED_TRACE("pin " + std::to_string(index));
    const ExpectedPin& want = kPins[index];
    PinProperties& pin = described[index];
    pin = HostPrefilledPin();
    ASSERT_TRUE(m_instance.DescribePin(index, &pin));
    EXPECT_STREQ(pin.name, want.name);
    EXPECT_EQ(pin.direction, want.direction);
    EXPECT_EQ(pin.data_type, want.data_type);
    EXPECT_STREQ(pin.default_value, want.default_value);
    if (want.extra == nullptr) {
      EXPECT_EQ(pin.extra, kUntouched);
    } else {
      EXPECT_STREQ(pin.extra, want.extra);
    }
    EXPECT_NE(pin.variable, HostPrefilledPin().variable);
    EXPECT_NE(pin.variable, nullptr);
    variables.insert(pin.variable);
  }
  EXPECT_EQ(variables.size(), 6u);  // each pin drives its own variable

  // Open describes the pins again; the answers must not change.
  m_instance.Open();
  for (int32_t index = 0; index < 6; ++index) {
    PinProperties again = HostPrefilledPin();
    ASSERT_TRUE(m_instance.DescribePin(index, &again));
    EXPECT_EQ(std::memcmp(&described[index], &again, sizeof again), 0) << "pin " << index;
  }
}

TEST_F(Description, NoPinBeyondTheSix) {
  for (int32_t index : {6, 7, -1, INT32_MIN, INT32_MAX}) {
    PinProperties pin = HostPrefilledPin();
    const PinProperties before = pin;
    EXPECT_FALSE(m_instance.DescribePin(index, &pin)) << "index " << index;
    EXPECT_EQ(std::memcmp(&pin, &before, sizeof pin), 0) << "index " << index;
  }
}

// A fresh instance, read through the pin variables the host was given:
// octave index 3 (no shift), 1 V/kHz, one pole, 40 Hz. The list variables
// are whole words, so their high halves are zero too.
TEST_F(Description, FreshSettings) {
  auto word = [&](int32_t pin) {
    int32_t value;
    std::memcpy(&value, m_instance.PinVariable(pin), sizeof value);
    return value;
  };
  EXPECT_EQ(word(2), 3);
  EXPECT_EQ(word(4), 0);
  EXPECT_EQ(word(5), 0);
  float cutoff;
  std::memcpy(&cutoff, m_instance.PinVariable(1), sizeof cutoff);
  EXPECT_EQ(cutoff, 40.0f);

  m_instance.Open();  // opening changes none of them
  EXPECT_EQ(word(2), 3);
  EXPECT_EQ(word(4), 0);
  EXPECT_EQ(word(5), 0);
  std::memcpy(&cutoff, m_instance.PinVariable(1), sizeof cutoff);
  EXPECT_EQ(cutoff, 40.0f);
}

}  // namespace
