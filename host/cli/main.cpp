// tonevolt: runs the Tonevolt module through its real boundary: loads the
// library, creates instances through main and drives their records.
#include "Commands.h"

int main(int argc, char** argv) { return tonevolt::RunCommandLine(argc, argv); }
