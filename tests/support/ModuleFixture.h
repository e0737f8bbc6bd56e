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

// True in the Win32 build when Wine runs under qemu-i386 (the tree's tests
// are told TONEVOLT_I386_RUN=emulated). It computes bit for bit as natively,
// but a second thread loses Wine's server connection there ("wine client
// error: write: Bad file descriptor") and every further process is a Wine
// start of a minute or more.
bool EmulatedWine();

}  // namespace testing_support

// Skips the test in the Win32 build under emulated Wine, saying why: tests
// that start threads or, as death tests do, processes. They run in the i386
// Linux suite on the same machine, and under Wine wherever i386 is native.
#define SKIP_UNDER_EMULATED_WINE(needs)                                  \
  if (testing_support::EmulatedWine())                                   \
  GTEST_SKIP() << "needs " needs                                         \
                  ", which Wine under qemu-i386 does not give (it runs " \
                  "in the i386 Linux suite here, and under Wine where i386 is native)"

namespace testing_support {}  // namespace testing_support

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
