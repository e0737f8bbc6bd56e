// The tool's commands: one table, assembled from each command's own row,
// from which the command line is parsed, dispatched and described in the
// usage text. A command is a row with its options and a handler that takes
// the parsed invocation and answers the exit code.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "options/Options.h"
#include "WBHost.h"

namespace tonevolt {

// Each command's row, from the command's own file.
Command DemoCommand();
Command RenderCommand();
Command AdviseCommand();
Command DescribeCommand();

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

// The rows of the options several commands take, their help's default from
// the field's value.
Option ChannelOption(int* channel);
Option GateOption(double* db);
Option PlotOption(const std::string& help, std::string* path);

// A value as the usage text shows it: 40, -60, 0.5.
template <typename T>
std::string HelpValue(T value) {
  std::ostringstream text;
  text << value;
  return text.str();
}
// "lo..hi (default d)" for the usage text; a range across zero signs both ends.
template <typename T>
std::string RangeHelp(T lo, T hi, T fallback) {
  return HelpValue(lo) + ".." + (lo < 0 && hi > 0 ? "+" : "") + HelpValue(hi) + " (default " +
         HelpValue(fallback) + ")";
}

}  // namespace tonevolt
