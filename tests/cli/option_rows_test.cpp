// Option rows bound to the fields of a small struct, parsed from argv as the
// tool parses its own: given values land in their fields through the tool's
// parsers, the rest keep what they held, and failures read as the tool's
// messages. Then the tool's own table: every row fills a field, and rows of
// one name in several commands agree.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "commands/Commands.h"
#include "options/Options.h"
#include "options/Values.h"

namespace tonevolt {
namespace {

struct Knobs {
  int channel = 0;
  double gate_db = -60;
  std::string file;
  bool loud = false;
};

std::vector<Option> KnobRows(Knobs* k) {
  return {Option::Parsed("--channel", "N", "", ParseChannel, &k->channel),
          Option::Parsed("--gate", "DB", "", ParseGate, &k->gate_db),
          Option::Text("--file", "FILE", "", "a file", &k->file),
          Option::Flag("--loud", "", &k->loud)};
}

int Nothing(const Invocation&) { return 0; }

// "go" takes the knobs, "stop" nothing; "--global" any command.
class OptionRowsTest : public ::testing::Test {
 protected:
  OptionRowsTest()
      : m_table{{"go", "go", "", KnobRows(&m_unused), Nothing}, {"stop", "stop", "", {}, Nothing}} {
  }

  // Parses the words and reads them into *knobs; false with the error.
  bool Read(const std::string& words, Knobs* knobs, std::string* error) {
    std::vector<std::string> split = {"tonevolt"};
    std::istringstream in(words);
    for (std::string word; in >> word;) split.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& word : split) argv.push_back(word.c_str());
    m_invocation = Invocation();
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), m_table, m_globals,
                            &m_invocation, error) &&
           ReadOptions(KnobRows(knobs), m_invocation, error);
  }

  Knobs m_unused;
  std::vector<Command> m_table;
  std::vector<Option> m_globals = {{"--global", "X", ""}};
  Invocation m_invocation;
};

struct ReadCase {
  const char* words;
  int channel;
  double gate_db;
  const char* file;
  bool loud;
};

// Fields start at channel 7, gate -30, file "keep", loud off: those not
// given must keep them.
const ReadCase kReadCases[] = {
    {"go", 7, -30, "keep", false},
    {"go --channel 2 --gate -20dB --file out.csv --loud", 2, -20, "out.csv", true},
    {"--channel=3 go --gate=-90", 3, -90, "keep", false},
    {"go --channel 1 --channel 4", 4, -30, "keep", false},
    {"go --file -x.csv --gate -1", 7, -1, "-x.csv", false},
    {"go --loud --loud=no", 7, -30, "keep", false},
    {"go --loud=no --loud=YES", 7, -30, "keep", true},
    {"go --global g -- --channel", 7, -30, "keep", false},
};

TEST_F(OptionRowsTest, GivenValuesLandInTheirFieldsTheRestKeepTheirs) {
  for (const ReadCase& c : kReadCases) {
    Knobs knobs{7, -30, "keep", false};
    std::string error;
    ASSERT_TRUE(Read(c.words, &knobs, &error)) << c.words << ": " << error;
    EXPECT_EQ(knobs.channel, c.channel) << c.words;
    EXPECT_EQ(knobs.gate_db, c.gate_db) << c.words;
    EXPECT_EQ(knobs.file, c.file) << c.words;
    EXPECT_EQ(knobs.loud, c.loud) << c.words;
  }
  Knobs knobs;
  std::string error;
  ASSERT_TRUE(Read("go a b --global=x", &knobs, &error)) << error;
  EXPECT_EQ(m_invocation.command, &m_table[0]);
  EXPECT_EQ(m_invocation.args, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(m_invocation.Value("--global"), "x");
}

struct ErrorCase {
  const char* words;
  const char* error;
};

const ErrorCase kErrorCases[] = {
    // The parser's own words, from the rows' names and nouns.
    {"go --channel", "--channel needs a value"},
    {"go --file", "--file needs a file"},
    {"go --gate=", "--gate needs a value"},
    {"go --loud=maybe",
     "--loud: 'maybe' is not a yes or no (a flag takes nothing, or true/false, yes/no, on/off, "
     "1/0)"},
    {"stop --channel 1", "--channel is not an option of stop"},
    {"go --nope", "unknown option --nope"},
    {"go -x.wav", "unknown option -x.wav (a file name starting with '-' goes after --)"},
    {"went", "unknown command 'went'"},
    // The field's parser, its reason after the name; the first row that
    // fails counts, whatever the order given.
    {"go --channel x", "--channel: 'x' is not a whole number"},
    {"go --gate 5", "--gate: 5 dBFS is out of range -200..0"},
    {"go --gate 5 --channel 1024", "--channel: 1024 is out of range 0..1023"},
};

TEST_F(OptionRowsTest, FailuresReadAsTheToolsMessages) {
  for (const ErrorCase& c : kErrorCases) {
    Knobs knobs;
    std::string error;
    EXPECT_FALSE(Read(c.words, &knobs, &error)) << c.words;
    EXPECT_EQ(error, c.error) << c.words;
  }
  // A failure leaves the fields of the rows after it alone.
  Knobs knobs{7, -30, "keep", false};
  std::string error;
  EXPECT_FALSE(Read("go --channel x --gate -1 --loud", &knobs, &error));
  EXPECT_EQ(knobs.gate_db, -30);
  EXPECT_FALSE(knobs.loud);
}

// A row without a field would be parsed and then silently ignored; one name
// in several commands is one option to the parser, which takes the first
// row's value name and noun for all.
TEST(CommandTable, EveryRowFillsAFieldAndSharedNamesAgree) {
  std::map<std::string, const Option*> seen;
  for (const Command& command : CommandTable()) {
    for (const Option& option : command.options) {
      EXPECT_TRUE(static_cast<bool>(option.read)) << command.name << " " << option.name;
      auto first = seen.emplace(option.name, &option).first->second;
      EXPECT_EQ(option.value, first->value) << command.name << " " << option.name;
      EXPECT_EQ(option.noun, first->noun) << command.name << " " << option.name;
    }
  }
}

}  // namespace
}  // namespace tonevolt
