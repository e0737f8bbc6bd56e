#include "ModuleFixture.h"

#include <map>

namespace testing_support {

std::string BuiltLibraryPath(const std::string& name) {
#if defined(_WIN32)
  return std::string(TONEVOLT_BUILD_DIR) + "/" + name + ".dll";
#else
  return std::string(TONEVOLT_BUILD_DIR) + "/" + name + ".so";
#endif
}

WBMainProc LoadMain(const std::string& name) {
  static std::map<std::string, std::unique_ptr<wbhost::ModuleLibrary>> loaded;
  auto found = loaded.find(name);
  if (found != loaded.end()) return found->second->Main();
  auto library = std::make_unique<wbhost::ModuleLibrary>();
  std::string error;
  if (!library->Load(BuiltLibraryPath(name), &error)) {
    ADD_FAILURE() << error;
    return nullptr;
  }
  WBMainProc main = library->Main();
  loaded[name] = std::move(library);
  return main;
}

}  // namespace testing_support
