#include "options/Options.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace tonevolt {

namespace {

const char kEndOfOptions[] = "--";

bool IsLong(const std::string& word) { return word.size() > 2 && word.compare(0, 2, "--") == 0; }

// "-h,--help" answers to "--help" and "-h", not to the two typed together.
bool Answers(const Option& option, const std::string& name) {
  std::string names = "," + option.name + ",";
  return name.find(',') == std::string::npos && names.find("," + name + ",") != std::string::npos;
}

// The global options and every command's, each name once: any of them may
// stand anywhere, and the command they belong to is checked once it is known.
std::vector<const Option*> AllOptions(const std::vector<Command>& commands,
                                      const std::vector<Option>& globals) {
  std::vector<const Option*> all;
  auto add = [&](const std::vector<Option>& options) {
    for (const Option& option : options)
      if (std::none_of(all.begin(), all.end(),
                       [&](const Option* o) { return o->name == option.name; }))
        all.push_back(&option);
  };
  add(globals);
  for (const Command& command : commands) add(command.options);
  return all;
}

// A flag's value: nothing (on) or a yes or no.
bool ParseSwitch(const std::string& text, bool* on) {
  std::string t = text;
  for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* yes : {"true", "yes", "on", "1"}) {
    if (t == yes) {
      *on = true;
      return true;
    }
  }
  for (const char* no : {"false", "no", "off", "0"}) {
    if (t == no) {
      *on = false;
      return true;
    }
  }
  return false;
}

// A word that names an option: "--name", "--name=value", or "-h" and the
// like. "-" alone, and a '-' before a digit ("-5", "-1e3"), are arguments.
bool IsOptionWord(const std::string& word) {
  if (word.size() < 2 || word[0] != '-') return false;
  return word[1] == '-' || !std::isdigit(static_cast<unsigned char>(word[1]));
}

// The word's option name for a message: up to its '=', unless that leaves
// nothing but dashes ("--=x").
std::string NameOf(const std::string& word) {
  size_t equals = word.find('=');
  std::string name = word.substr(0, equals);
  return name.find_first_not_of('-') == std::string::npos ? word : name;
}

// What the words say, before it is checked against the command.
struct Words {
  std::vector<std::string> positional;
  // Per option, its last value; "" for a flag turned off, "on" for one on.
  std::vector<std::optional<std::string>> values;
  std::string unknown;  // the first word that names no option
};

// Reads the words in order. An option that takes a value takes the text
// after its '=', or else the next word unless that starts with "--", so
// that a value may start with '-' ("--gate -60"); the last of a repeated
// option counts. A flag takes nothing, or a yes or no after '='. A missing
// or empty value, or a flag's value that is not a yes or no, fails at once;
// an unknown option is kept to report once the words are all read. Every
// word after "--" is an argument.
bool Lex(const std::vector<const Option*>& options, const std::vector<std::string>& words,
         Words* lexed, std::string* error) {
  lexed->values.assign(options.size(), std::nullopt);
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == kEndOfOptions) {
      lexed->positional.insert(lexed->positional.end(), words.begin() + i + 1, words.end());
      break;
    }
    if (!IsOptionWord(word)) {
      lexed->positional.push_back(word);
      continue;
    }
    size_t equals = word.find('=');
    std::string name = word.substr(0, equals);
    size_t index = 0;
    while (index < options.size() && !Answers(*options[index], name)) ++index;
    if (index == options.size()) {
      if (lexed->unknown.empty()) lexed->unknown = word;
      continue;
    }
    const Option& option = *options[index];
    bool flag = option.value.empty();
    std::string value;
    if (equals != std::string::npos)
      value = word.substr(equals + 1);
    else if (!flag && i + 1 < words.size() && words[i + 1].compare(0, 2, "--") != 0)
      value = words[++i];
    if (flag) {
      bool on = true;
      if (equals != std::string::npos && !ParseSwitch(value, &on)) {
        *error = name + ": '" + value +
                 "' is not a yes or no (a flag takes nothing, or true/false, yes/no, on/off, 1/0)";
        return false;
      }
      value = on ? "on" : "";
    } else if (value.empty()) {
      *error = name + " needs " + option.noun;
      return false;
    }
    lexed->values[index] = value;
  }
  return true;
}

}  // namespace

Option Option::Text(std::string name, std::string value, std::string help, std::string noun,
                    std::string* field) {
  return {std::move(name), std::move(value), std::move(help), std::move(noun),
          [field](const std::string& text, std::string*) {
            *field = text;
            return true;
          }};
}

// The parser keeps a flag only when it is on.
Option Option::Flag(std::string name, std::string help, bool* field) {
  return {std::move(name), "", std::move(help), "a value",
          [field](const std::string&, std::string*) {
            *field = true;
            return true;
          }};
}

std::string Invocation::Value(const std::string& name, const std::string& fallback) const {
  auto found = values.find(name);
  return found == values.end() ? fallback : found->second;
}

bool ParseCommandLine(int argc, const char* const* argv, const std::vector<Command>& commands,
                      const std::vector<Option>& globals, Invocation* invocation,
                      std::string* error) {
  const std::vector<const Option*> options = AllOptions(commands, globals);
  const std::vector<std::string> words(argv + 1, argv + argc);
  Words lexed;
  if (!Lex(options, words, &lexed, error)) return false;
  if (!lexed.unknown.empty()) {
    *error = "unknown option " + NameOf(lexed.unknown);
    if (!IsLong(lexed.unknown)) *error += " (a file name starting with '-' goes after --)";
    return false;
  }

  // The command is the first argument, so that a command's options may
  // stand before it and global ones after it.
  const std::vector<std::string>& positional = lexed.positional;
  if (!positional.empty()) {
    for (const Command& command : commands)
      if (command.name == positional[0]) invocation->command = &command;
    if (invocation->command == nullptr) {
      *error = "unknown command '" + positional[0] + "'";
      return false;
    }
    invocation->args.assign(positional.begin() + 1, positional.end());
  }

  for (size_t i = 0; i < options.size(); ++i) {
    const Option& option = *options[i];
    if (!lexed.values[i]) continue;
    const Command* command = invocation->command;
    bool global = std::any_of(globals.begin(), globals.end(),
                              [&](const Option& o) { return o.name == option.name; });
    if (command != nullptr && !global &&
        std::none_of(command->options.begin(), command->options.end(),
                     [&](const Option& o) { return o.name == option.name; })) {
      *error = option.name + " is not an option of " + command->name;
      return false;
    }
    const std::string& value = *lexed.values[i];
    // A flag that was turned off is as if not given.
    if (option.value.empty() && value.empty()) continue;
    invocation->values[option.name] = option.value.empty() ? "" : value;
  }
  return true;
}

bool ReadOptions(const std::vector<Option>& rows, const Invocation& invocation,
                 std::string* error) {
  for (const Option& row : rows) {
    if (!row.read || !invocation.Has(row.name)) continue;
    std::string why;
    if (!row.read(invocation.Value(row.name), &why)) {
      *error = row.name + ": " + why;
      return false;
    }
  }
  return true;
}

}  // namespace tonevolt
