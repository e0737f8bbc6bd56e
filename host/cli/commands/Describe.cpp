#include <cstdio>
#include <cstring>

#include "commands/Commands.h"

namespace tonevolt {

namespace {

const char* Text(const char* s) { return s != nullptr ? s : "-"; }

const char* DirectionName(int32_t direction) {
  switch (direction) {
    case DIR_INPUT:
      return "input";
    case DIR_OUTPUT:
      return "output";
    case DIR_SETTING:
      return "setting";
    default:
      return "?";
  }
}

const char* TypeName(int32_t type) {
  switch (type) {
    case TYPE_ENUM:
      return "list";
    case TYPE_HOST_VALUE:
      return "host value";
    case TYPE_BOOL:
      return "bool";
    case TYPE_AUDIO:
      return "audio";
    case TYPE_FLOAT:
      return "float";
    default:
      return "?";
  }
}

int Describe(const Invocation& invocation) {
  if (!invocation.args.empty()) return UsageError("describe takes no arguments");
  std::unique_ptr<wbhost::ModuleLibrary> library = LoadModule(invocation);
  if (library == nullptr) return 1;
  wbhost::Instance instance;
  if (!instance.Create(library->Main())) return Fail("the module's main answered no instance");
  ModuleProperties module;
  std::memset(&module, 0, sizeof module);
  if (!instance.DescribeModule(&module)) return Fail("the module does not describe itself");
  std::printf("Module  %s\nId      %s\nAbout\n", Text(module.name), Text(module.id));
  std::string about = Text(module.about);
  for (size_t start = 0; start <= about.size();) {
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
    std::string name = "\"" + std::string(Text(pin.name)) + "\"";
    std::printf("%-3d  %-15s  %-8s  %-6s  %-7s  %s\n", index, name.c_str(),
                DirectionName(pin.direction), TypeName(pin.data_type), Text(pin.default_value),
                Text(pin.extra));
  }
  return 0;
}

}  // namespace

Command DescribeCommand() {
  return {"describe", "describe", "print the module description and its pins", {}, Describe};
}

}  // namespace tonevolt
