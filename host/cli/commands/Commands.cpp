#include "commands/Commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "TonevoltPins.h"
#include "files/Paths.h"
#include "module/Run.h"
#include "options/Values.h"

namespace tonevolt {

namespace {

const char kLibraryName[] = "Tonevolt.so";
// Where `cmake --install` puts the library, from the program's folder.
const char kInstalledLibrary[] = "../lib/tonevolt/Tonevolt.so";
const char kModuleOption[] = "--module";
const char kHelpOption[] = "-h,--help";
const char kVersionOption[] = "--version";

// Where the usage text puts descriptions.
constexpr size_t kHelpColumn = 28;

// "  name  help" with help from kHelpColumn on, continuation lines aligned.
void AppendEntry(const std::string& indent, const std::string& name, const std::string& help,
                 std::string* text) {
  std::string line = indent + name;
  std::string rest = help;
  for (bool first = true;; first = false) {
    size_t end = rest.find('\n');
    std::string piece = rest.substr(0, end);
    if (!first) line.clear();
    if (line.size() + 2 > kHelpColumn) {
      *text += line + "\n";
      line.clear();
    }
    line.resize(kHelpColumn, ' ');
    *text += line + piece + "\n";
    if (end == std::string::npos) break;
    rest = rest.substr(end + 1);
  }
}

std::string OptionName(const Option& option) {
  std::string name = option.name;
  for (size_t at; (at = name.find(",-")) != std::string::npos;) name.replace(at, 1, ", ");
  return option.value.empty() ? name : name + " " + option.value;
}

// The folder of the running program itself, through any symlink on PATH.
std::string ProgramFolder() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  std::string self(path, static_cast<size_t>(length));
  return self.substr(0, self.find_last_of('/'));
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

const std::vector<Command>& CommandTable() {
  static const std::vector<Command> table = {DemoCommand(), RenderCommand(), AdviseCommand(),
                                             DescribeCommand()};
  return table;
}

const std::vector<Option>& GlobalOptions() {
  static const std::vector<Option> options = {
      {kModuleOption, "PATH",
       std::string("the module library (default: ") + kLibraryName +
           " beside\n"
           "this program, or in PREFIX/lib/tonevolt when\n"
           "installed)",
       "a path"},
      {kHelpOption, "", "this text"},
      {kVersionOption, "", "the version"},
  };
  return options;
}

std::string UsageText() {
  std::string text = "usage: tonevolt [--module PATH] COMMAND [options]\n\n";
  for (const Command& command : CommandTable()) {
    AppendEntry("  ", command.usage, command.help, &text);
    for (const Option& option : command.options)
      if (!option.help.empty()) AppendEntry("      ", OptionName(option), option.help, &text);
  }
  text += "\n";
  for (const Option& option : GlobalOptions())
    if (!option.help.empty()) AppendEntry("  ", OptionName(option), option.help, &text);
  text +=
      "\nOptions go before or after the command, as --opt value or --opt=value; given\n"
      "twice, the last counts. Numbers are plain decimals, with the unit or without\n"
      "(20Hz, -60dB, 0.5s). After -- every word is a file (-x.wav).\n"
      "\nA file output is written beside its place and renamed into it, replacing a\n"
      "file of that name (a symlink's target); a device, FIFO or socket is written\n"
      "through. An output that is an input or another output is refused.\n"
      "Exit status: 0 done, 1 failed, 2 refused (usage or a clash of files),\n"
      "130 or 143 interrupted (no file written; a pipe keeps what it got).\n";
  return text;
}

int RunCommandLine(int argc, const char* const* argv) {
  Invocation invocation;
  std::string error;
  if (!ParseCommandLine(argc, argv, CommandTable(), GlobalOptions(), &invocation, &error))
    return UsageError(error);
  if (invocation.Has(kHelpOption)) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (invocation.Has(kVersionOption)) {
    std::printf("tonevolt %s\n", TONEVOLT_VERSION);
    return 0;
  }
  if (invocation.command == nullptr) {
    std::fputs(UsageText().c_str(), stderr);
    return 2;
  }
  return invocation.command->run(invocation);
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "tonevolt: %s\n", message.c_str());
  return 1;
}

int Refuse(const std::string& message) {
  std::fprintf(stderr, "tonevolt: %s\n", message.c_str());
  return 2;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "tonevolt: %s (tonevolt --help for usage)\n", message.c_str());
  return 2;
}

std::string ModulePath(const Invocation& invocation) {
  if (invocation.Has(kModuleOption)) {
    std::string path = invocation.Value(kModuleOption);
    // dlopen would search the library path for a name without a slash.
    return path.find('/') == std::string::npos ? "./" + path : path;
  }
  std::string folder = ProgramFolder();
  std::string beside = folder + "/" + kLibraryName, installed = folder + "/" + kInstalledLibrary;
  return IsFile(beside) || !IsFile(installed) ? beside : installed;
}

std::unique_ptr<wbhost::ModuleLibrary> LoadModule(const Invocation& invocation) {
  const std::string path = ModulePath(invocation);
  if (!invocation.Has(kModuleOption) && !IsFile(path)) {
    // Neither place has it: say both, and how to give another.
    const std::string folder = ProgramFolder();
    Fail("cannot load module library: found neither " + Printable(folder + "/" + kLibraryName) +
         " nor " + Printable(folder + "/" + kInstalledLibrary) + "; give --module PATH");
    return nullptr;
  }
  auto library = std::make_unique<wbhost::ModuleLibrary>();
  std::string error;
  if (!library->Load(path, &error)) {
    Fail(Printable(error));
    return nullptr;
  }
  return library;
}

Option ChannelOption(int* channel) {
  return Option::Parsed("--channel", "N",
                        "input channel, from 0 (default " + HelpValue(*channel) + ")", ParseChannel,
                        channel);
}

Option GateOption(double* db) {
  return Option::Parsed("--gate", "DB",
                        "quieter than this has no pitch, in dBFS (-60 or\n"
                        "-60dB; default " +
                            HelpValue(*db) + ")",
                        ParseGate, db);
}

Option PlotOption(const std::string& help, std::string* path) {
  return Option::Text("--plot", "FILE.png", help, "a file", path);
}

}  // namespace tonevolt
