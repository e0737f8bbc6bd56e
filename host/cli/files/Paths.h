// Which files a command reads and writes, the check that no output is one
// of its inputs or another of its outputs, and how a path is printed.
#pragma once

#include <string>
#include <vector>

namespace tonevolt {

// A file as the command line names it: "IN", "OUT", "--csv" and the path.
struct NamedPath {
  std::string role;
  std::string path;  // "-": standard input
};

// False with a one-line reason naming both when an output is an input or
// another output. Existing files compare by device and inode (so "./in.wav",
// hard links and symlinks to an input count as the input), others by their
// resolved path.
bool CheckDistinct(const std::vector<NamedPath>& inputs, const std::vector<NamedPath>& outputs,
                   std::string* error);

// A path as the tool prints it: control characters escaped (\n, \t, \x1b),
// so that a file's name cannot break a line or drive the terminal.
std::string Printable(const std::string& path);

}  // namespace tonevolt
