// The command line, parsed the same way for every command (on CLI11): any
// option before or after the command, "--opt value" and "--opt=value" (a
// value may start with '-': "--gate -60"), the last of a repeated option
// winning, a flag alone or with a yes or no ("--native-rate=no"), and every
// word after "--" an argument. Values stay text; commands convert them with
// the tool's own parsers so that every message is the tool's.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tonevolt {

struct Option {
  std::string name;   // "--cutoff"
  std::string value;  // the value's name in the usage text: "HZ"; empty for a flag
  std::string help;   // usage text, lines split by '\n'; empty: the command's usage covers it
  std::string noun = "a value";  // what a missing value is called: "--out needs a folder"
};

struct Command;

// What the command line asked for.
struct Invocation {
  const Command* command = nullptr;           // null when no command was given
  std::vector<std::string> args;              // the command's positional arguments
  std::map<std::string, std::string> values;  // option name -> value, global ones too
  bool Has(const std::string& name) const { return values.count(name) != 0; }
  // The option's value, or fallback when it was not given.
  std::string Value(const std::string& name, const std::string& fallback = "") const;
};

// Parses argv against the command table; false with a one-line reason.
bool ParseCommandLine(int argc, const char* const* argv, Invocation* invocation,
                      std::string* error);

// Converts option values with the tool's parsers and keeps the first
// failure as "--name: reason".
class OptionReader {
 public:
  explicit OptionReader(const Invocation& invocation) : m_invocation(invocation) {}

  template <typename T>
  void Read(const std::string& name, bool (*parse)(const std::string&, T*, std::string*),
            T* value) {
    if (!m_error.empty() || !m_invocation.Has(name)) return;
    std::string why;
    if (!parse(m_invocation.Value(name), value, &why)) m_error = name + ": " + why;
  }
  void ReadText(const std::string& name, std::string* value) {
    if (m_invocation.Has(name)) *value = m_invocation.Value(name);
  }
  bool Failed() const { return !m_error.empty(); }
  const std::string& Error() const { return m_error; }

 private:
  const Invocation& m_invocation;
  std::string m_error;
};

}  // namespace tonevolt
