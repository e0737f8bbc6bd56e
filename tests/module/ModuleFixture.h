// Shared test plumbing: the paths of the built module libraries and a
// fixture holding one loaded library.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "WBHost.h"

namespace testing_support {

// Full path of a library built into the build tree's top, by base name
// ("Tonevolt", "ProbeModule"), with the platform's suffix.
std::string BuiltLibraryPath(const std::string& name);

// Loads a built library once per process and keeps it loaded.
WBMainProc LoadMain(const std::string& name);

}  // namespace testing_support

// Fixture for tests of the Tonevolt library: main() is the library's entry.
class TonevoltTest : public ::testing::Test {
 protected:
  WBMainProc m_main = testing_support::LoadMain("Tonevolt");
};

// Fixture for tests of the SDK through the test-only probe module.
class ProbeTest : public ::testing::Test {
 protected:
  WBMainProc m_main = testing_support::LoadMain("ProbeModule");
};
