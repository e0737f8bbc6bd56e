#include "options/Options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>

namespace tonevolt {

namespace {

const char kEndOfOptions[] = "--";

bool IsLong(const std::string& word) { return word.size() > 2 && word.compare(0, 2, "--") == 0; }

// "-h,--help" answers to "--help" and "-h".
bool Answers(const Option& option, const std::string& name) {
  std::string names = "," + option.name + ",";
  return names.find("," + name + ",") != std::string::npos;
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

const Option* Find(const std::vector<const Option*>& options, const std::string& name) {
  for (const Option* option : options)
    if (Answers(*option, name)) return option;
  return nullptr;
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

// CLI11 takes a word that starts with '-' for an option, so "--cutoff -inf",
// "--gate -60dB" or "--csv -x.csv" would lose their value; and it reads
// "--flag=" as the flag alone. So each value is joined to its option here
// ("--cutoff=-inf"): an option that takes a value takes the next word unless
// that starts with "--". A missing or empty value, or a flag's value that is
// not a yes or no, is refused. Words after "--" are left as they are.
bool AttachValues(const std::vector<const Option*>& options, std::vector<std::string>* words,
                  std::string* error) {
  std::vector<std::string> joined;
  for (size_t i = 0; i < words->size(); ++i) {
    const std::string& word = (*words)[i];
    if (word == kEndOfOptions) {
      joined.insert(joined.end(), words->begin() + i, words->end());
      break;
    }
    size_t equals = word.find('=');
    std::string name = word.substr(0, equals);
    const Option* option = IsLong(word) ? Find(options, name) : nullptr;
    if (option == nullptr) {
      joined.push_back(word);
      continue;
    }
    bool flag = option->value.empty();
    std::string value;
    if (equals != std::string::npos)
      value = word.substr(equals + 1);
    else if (!flag && i + 1 < words->size() && (*words)[i + 1].compare(0, 2, "--") != 0)
      value = (*words)[++i];
    bool on;
    if (flag && equals != std::string::npos && !ParseSwitch(value, &on)) {
      *error = name + ": '" + value +
               "' is not a yes or no (a flag takes nothing, or true/false, yes/no, on/off, 1/0)";
      return false;
    }
    if (!flag && value.empty()) {
      *error = name + " needs " + option->noun;
      return false;
    }
    joined.push_back(flag ? word : name + "=" + value);
  }
  *words = joined;
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
  std::vector<std::string> words(argv + 1, argv + argc);
  if (!AttachValues(options, &words, error)) return false;

  // One level: the command is the first positional word, so that a
  // command's options may stand before it and global ones after it.
  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  std::vector<std::string> positional;
  app.add_option("words", positional);
  std::vector<CLI::Option*> parsed;
  for (const Option* option : options)
    parsed.push_back(option->value.empty()
                         ? app.add_flag(option->name)
                         : app.add_option(option->name)
                               ->expected(1)
                               ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast));
  std::reverse(words.begin(), words.end());  // CLI11 reads the vector from its end
  try {
    app.parse(words);
  } catch (const CLI::Error& e) {
    *error = e.what();
    return false;
  }

  // Extras are options nobody declared ("--" is CLI11's own mark).
  for (const std::string& extra : app.remaining()) {
    if (extra == kEndOfOptions) continue;
    *error = "unknown option " + extra.substr(0, extra.find('='));
    if (!IsLong(extra)) *error += " (a file name starting with '-' goes after --)";
    return false;
  }
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
    if (parsed[i]->count() == 0) continue;
    const Command* command = invocation->command;
    bool global = std::any_of(globals.begin(), globals.end(),
                              [&](const Option& o) { return o.name == option.name; });
    if (command != nullptr && !global &&
        std::none_of(command->options.begin(), command->options.end(),
                     [&](const Option& o) { return o.name == option.name; })) {
      *error = option.name + " is not an option of " + command->name;
      return false;
    }
    const std::string& value = parsed[i]->results().back();
    bool on = true;
    if (option.value.empty()) ParseSwitch(value, &on);  // checked by AttachValues
    if (on) invocation->values[option.name] = option.value.empty() ? "" : value;
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
