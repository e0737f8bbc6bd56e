// tonevolt: runs the Tonevolt module through its real boundary: loads the
// library, creates instances through main and drives their records.
#include <cstdio>
#include <exception>
#include <new>

#include "files/Cleanup.h"
#include "commands/Commands.h"

int main(int argc, char** argv) {
  tonevolt::InstallInterruptHandlers();
  // Whatever goes wrong is one line; unwinding removes temporary files.
  try {
    return tonevolt::RunCommandLine(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("tonevolt: out of memory\n", stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tonevolt: internal error: %s\n", e.what());
  } catch (...) {
    std::fputs("tonevolt: failed for an unknown reason\n", stderr);
  }
  return 1;
}
