#include "Options.h"

#include <CLI/CLI.hpp>

#include "Commands.h"

namespace tonevolt {

namespace {

// Every option takes at most one value, so that one given without a value
// is reported as such rather than swallowing the next argument's meaning.
CLI::Option* AddOption(CLI::App* app, const Option& option) {
  if (option.value.empty()) return app->add_flag(option.name);
  return app->add_option(option.name)
      ->expected(0, 1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

struct Declared {
  const Option* option;
  CLI::Option* parsed;
};

// Copies what was given into the invocation; false if a value is missing.
bool Collect(const std::vector<Declared>& declared, Invocation* invocation, std::string* error) {
  for (const Declared& d : declared) {
    if (d.parsed->count() == 0) continue;
    if (d.option->value.empty()) {
      invocation->values[d.option->name] = "";
      continue;
    }
    const std::vector<std::string>& results = d.parsed->results();
    if (results.empty() || results.back().empty()) {
      *error = d.option->name + " needs " + d.option->noun;
      return false;
    }
    invocation->values[d.option->name] = results.back();
  }
  return true;
}

}  // namespace

std::string Invocation::Value(const std::string& name, const std::string& fallback) const {
  auto found = values.find(name);
  return found == values.end() ? fallback : found->second;
}

bool ParseCommandLine(int argc, const char* const* argv, Invocation* invocation,
                      std::string* error) {
  CLI::App app;
  // Set before the commands are added: they inherit it.
  app.set_help_flag();
  app.allow_extras();
  app.fallthrough();
  app.require_subcommand(0, 1);

  std::vector<Declared> declared;
  for (const Option& option : GlobalOptions())
    declared.push_back({&option, AddOption(&app, option)});
  struct Subcommand {
    const Command* command;
    CLI::App* app;
    std::vector<std::string> args;
    std::vector<Declared> declared;
  };
  std::vector<Subcommand> subcommands;
  subcommands.reserve(CommandTable().size());  // stable addresses for CLI11
  for (const Command& command : CommandTable()) {
    subcommands.push_back({&command, app.add_subcommand(command.name), {}, {}});
    Subcommand& sub = subcommands.back();
    for (const Option& option : command.options)
      sub.declared.push_back({&option, AddOption(sub.app, option)});
    sub.app->add_option("args", sub.args);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::Error& e) {
    *error = e.what();
    return false;
  }

  for (const Subcommand& sub : subcommands) {
    if (!sub.app->parsed()) continue;
    invocation->command = sub.command;
    invocation->args = sub.args;
    if (!Collect(sub.declared, invocation, error)) return false;
  }
  if (!Collect(declared, invocation, error)) return false;
  // Extras are options nobody declared, or words where a command belongs.
  for (const std::string& extra : app.remaining(true)) {
    if (extra.size() > 1 && extra[0] == '-') {
      *error = "unknown option " + extra.substr(0, extra.find('='));
      return false;
    }
    if (invocation->command == nullptr) {
      *error = "unknown command '" + extra + "'";
      return false;
    }
    invocation->args.push_back(extra);
  }
  return true;
}

}  // namespace tonevolt
