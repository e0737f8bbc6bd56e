// The tool's commands: one table from which the command line is parsed,
// dispatched and described in the usage text. A command is a row here and a
// handler that takes the parsed invocation and answers the exit code.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Options.h"
#include "WBHost.h"

namespace tonevolt {

struct Command {
  std::string name;   // "render"
  std::string usage;  // "render IN OUT [options]"
  std::string help;   // lines split by '\n'
  std::vector<Option> options;
  int (*run)(const Invocation& invocation);
};

const std::vector<Command>& CommandTable();
const std::vector<Option>& GlobalOptions();
// The usage text, generated from the tables.
std::string UsageText();

// Parses the command line and runs the command; answers the exit code.
int RunCommandLine(int argc, const char* const* argv);

// Shared by the commands.
int Fail(const std::string& message);        // one line on stderr; exit code 1
int UsageError(const std::string& message);  // one line on stderr with a hint; exit code 2
int Refuse(const std::string& message);      // one line on stderr; exit code 2
// The module library the invocation names: --module (a plain file name is a
// path too), or Tonevolt.so beside the real program, or where an installed
// program keeps it (PREFIX/lib/tonevolt).
std::string ModulePath(const Invocation& invocation);
// That library, loaded; null after reporting why it did not load. Instances
// of it must be destroyed before it is.
std::unique_ptr<wbhost::ModuleLibrary> LoadModule(const Invocation& invocation);

}  // namespace tonevolt
