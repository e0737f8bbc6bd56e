#include "Options.h"

#include <CLI/CLI.hpp>

#include "Commands.h"

namespace tonevolt {

namespace {

// Every option takes at most one value, so that one given without a value
// is reported as such rather than swallowing the next argument's meaning.
CLI::Option* AddOption(CLI::App* app, const OptionSpec& spec) {
  if (spec.value.empty()) return app->add_flag(spec.name);
  return app->add_option(spec.name)->expected(0, 1)->multi_option_policy(
      CLI::MultiOptionPolicy::TakeLast);
}

struct Declared {
  const OptionSpec* spec;
  CLI::Option* option;
};

// Copies what was given into the invocation; false if a value is missing.
bool Collect(const std::vector<Declared>& declared, Invocation* invocation, std::string* error) {
  for (const Declared& d : declared) {
    if (d.option->count() == 0) continue;
    if (d.spec->value.empty()) {
      invocation->values[d.spec->name] = "";
      continue;
    }
    const std::vector<std::string>& results = d.option->results();
    if (results.empty() || results.back().empty()) {
      *error = d.spec->name + " needs " + d.spec->noun;
      return false;
    }
    invocation->values[d.spec->name] = results.back();
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
  for (const OptionSpec& spec : GlobalOptions()) declared.push_back({&spec, AddOption(&app, spec)});
  struct Command {
    const CommandSpec* spec;
    CLI::App* app;
    std::vector<std::string> args;
    std::vector<Declared> declared;
  };
  std::vector<Command> commands;
  commands.reserve(CommandTable().size());
  for (const CommandSpec& spec : CommandTable()) {
    commands.push_back({&spec, app.add_subcommand(spec.name), {}, {}});
    Command& command = commands.back();
    for (const OptionSpec& option : spec.options)
      command.declared.push_back({&option, AddOption(command.app, option)});
    command.app->add_option("args", command.args);
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::Error& e) {
    *error = e.what();
    return false;
  }

  for (Command& command : commands) {
    if (!command.app->parsed()) continue;
    invocation->command = command.spec;
    invocation->args = command.args;
    if (!Collect(command.declared, invocation, error)) return false;
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
