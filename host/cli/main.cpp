// tonevolt: runs the Tonevolt module through its real boundary.
#include <cstdio>
#include <cstring>
#include <string>

#include "WbHost.h"

namespace {

#if defined(_WIN32)
const char kLibraryName[] = "Tonevolt.dll";
#else
const char kLibraryName[] = "Tonevolt.so";
#endif

// The library beside this program.
std::string DefaultModulePath(const char* argv0) {
  std::string self(argv0);
  size_t slash = self.find_last_of("/\\");
  return slash == std::string::npos ? std::string("./") + kLibraryName
                                    : self.substr(0, slash + 1) + kLibraryName;
}

const char* Text(const char* s) { return s != nullptr ? s : "-"; }

const char* DirectionName(int32_t direction) {
  switch (direction) {
    case DIR_INPUT: return "input";
    case DIR_OUTPUT: return "output";
    case DIR_SETTING: return "setting";
    default: return "?";
  }
}

const char* TypeName(int32_t type) {
  switch (type) {
    case TYPE_ENUM: return "list";
    case TYPE_HOST_VALUE: return "host value";
    case TYPE_BOOL: return "bool";
    case TYPE_AUDIO: return "audio";
    case TYPE_FLOAT: return "float";
    default: return "?";
  }
}

int Describe(WBMainProc main) {
  wbhost::Instance instance;
  if (!instance.Create(main)) {
    std::fprintf(stderr, "tonevolt: the module's main answered no instance\n");
    return 1;
  }
  ModuleProperties module;
  std::memset(&module, 0, sizeof module);
  if (!instance.DescribeModule(&module)) {
    std::fprintf(stderr, "tonevolt: the module does not describe itself\n");
    return 1;
  }
  std::printf("Module  %s\nId      %s\nAbout\n", Text(module.name), Text(module.id));
  std::string about = Text(module.about);
  size_t start = 0;
  while (start <= about.size()) {
    size_t end = about.find('\n', start);
    if (end == std::string::npos) end = about.size();
    std::printf("  %s\n", about.substr(start, end - start).c_str());
    start = end + 1;
  }
  std::printf("\n%-3s  %-15s  %-8s  %-6s  %-7s  %s\n", "Pin", "Name", "Dir", "Type", "Default",
              "Extra");
  PinProperties pin;
  for (int32_t index = 0;; ++index) {
    std::memset(&pin, 0, sizeof pin);
    if (!instance.DescribePin(index, &pin)) break;
    std::printf("%-3d  %-15s  %-8s  %-6s  %-7s  %s\n", index, ("\"" + std::string(Text(pin.name)) + "\"").c_str(),
                DirectionName(pin.direction), TypeName(pin.data_type), Text(pin.default_value),
                Text(pin.extra));
  }
  return 0;
}

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: tonevolt [--module PATH] describe\n"
               "  describe   print the module description and its pins\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::string module_path = DefaultModulePath(argv[0]);
  std::string command;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--module" && i + 1 < argc) {
      module_path = argv[++i];
    } else if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      return 0;
    } else if (command.empty()) {
      command = arg;
    } else {
      std::fprintf(stderr, "tonevolt: unexpected argument '%s'\n", arg.c_str());
      return 2;
    }
  }
  if (command.empty()) command = "describe";

  wbhost::ModuleLibrary library;
  std::string error;
  if (!library.Load(module_path, &error)) {
    std::fprintf(stderr, "tonevolt: %s\n", error.c_str());
    return 1;
  }
  if (command == "describe") return Describe(library.Main());
  std::fprintf(stderr, "tonevolt: unknown command '%s'\n", command.c_str());
  Usage(stderr);
  return 2;
}
