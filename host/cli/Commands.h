// The tool's subcommands. Each takes the arguments after its name, reports
// errors as one line on stderr and answers the process exit code.
#pragma once

#include <string>
#include <vector>

#include "WBInterface.h"

namespace tonevolt {

using Args = std::vector<std::string>;

int Describe(const std::string& module_path, const Args& args);
int Demo(const std::string& module_path, const Args& args);
int Render(const std::string& module_path, const Args& args);

// Shared by the commands.
int Fail(const std::string& message);        // one line on stderr; exit code 1
int UsageError(const std::string& message);  // one line on stderr; exit code 2
// Loads the module library and resolves main; null after reporting why.
WBMainProc LoadModule(const std::string& path);
// "Sample rate: at 48000 Hz ..." when the rate is not the module's reference.
std::string RateNote(double sample_rate);

}  // namespace tonevolt
