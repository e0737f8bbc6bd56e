// The command line, parsed the same way for every command: any option before
// or after the command, "--opt value" and "--opt=value" (a value may start
// with '-': "--gate -60"), the last of a repeated option winning, a flag alone
// or with a yes or no ("--native-rate=no"), and every word after "--" an
// argument. Values stay text until a command reads them through its option
// rows, each with the tool's own parser, so that every message is the tool's.
// The parser is our own, since the tool's grammar (values that begin with
// '-', options anywhere, the tool's own messages) had our code lexing every
// word before an option library ever saw it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tonevolt {

// One option row: how the command line and the usage text name it, and how
// its text fills the field it is bound to.
struct Option {
  std::string name;   // "--cutoff"
  std::string value;  // the value's name in the usage text: "HZ"; empty for a flag
  std::string help;   // usage text, lines split by '\n'; empty: the command's usage covers it
  std::string noun = "a value";  // what a missing value is called: "--out needs a folder"
  // Fills the bound field from the option's text; false with a reason.
  // Empty for an option the tool looks up by name (--help, --module).
  std::function<bool(const std::string& text, std::string* error)> read = nullptr;

  // A value that parse converts into *field ("--cutoff 20Hz" into a float).
  template <typename T>
  static Option Parsed(std::string name, std::string value, std::string help,
                       bool (*parse)(const std::string&, T*, std::string*), T* field) {
    return {std::move(name), std::move(value), std::move(help), "a value",
            [parse, field](const std::string& text, std::string* error) {
              return parse(text, field, error);
            }};
  }
  // Text kept as given, such as a file name; noun as above ("a file").
  static Option Text(std::string name, std::string value, std::string help, std::string noun,
                     std::string* field);
  // A flag: *field is true when it is on.
  static Option Flag(std::string name, std::string help, bool* field);
};

struct Invocation;

// A command: its row in the usage text, its options and its handler, which
// answers the exit code.
struct Command {
  std::string name;   // "render"
  std::string usage;  // "render IN [OUT] [options]"
  std::string help;   // lines split by '\n'
  std::vector<Option> options;
  int (*run)(const Invocation& invocation);
};

// What the command line asked for.
struct Invocation {
  const Command* command = nullptr;           // null when no command was given
  std::vector<std::string> args;              // the command's positional arguments
  std::map<std::string, std::string> values;  // option name -> value, global ones too
  bool Has(const std::string& name) const { return values.count(name) != 0; }
  // The option's value, or fallback when it was not given.
  std::string Value(const std::string& name, const std::string& fallback = "") const;
};

// Parses argv against a table of commands and the options any command
// takes; false with a one-line reason. The invocation points into commands.
bool ParseCommandLine(int argc, const char* const* argv, const std::vector<Command>& commands,
                      const std::vector<Option>& globals, Invocation* invocation,
                      std::string* error);

// Fills the fields of the rows given on the command line, in the rows'
// order; false with the first failure as "--name: reason". Fields of the
// options not given keep their values.
bool ReadOptions(const std::vector<Option>& rows, const Invocation& invocation, std::string* error);

}  // namespace tonevolt
