#include "files/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace tonevolt {

namespace {

struct Identity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string resolved;  // empty when it cannot be worked out
};

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

Identity Identify(const std::string& path) {
  Identity id;
  struct stat st;
  bool found = path == "-" ? fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode)
                           : stat(path.c_str(), &st) == 0;
  if (found) {
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
  }
  if (path == "-") return id;
  if (found) {
    id.resolved = RealPath(path);
    return id;
  }
  // Not there yet: where it would be created.
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string real_folder = RealPath(folder);
  if (!real_folder.empty()) id.resolved = real_folder + "/" + name;
  return id;
}

bool Same(const Identity& a, const Identity& b) {
  if (a.exists && b.exists) return a.device == b.device && a.inode == b.inode;
  return !a.resolved.empty() && a.resolved == b.resolved;
}

std::string RoleAndPath(const NamedPath& named) {
  return named.role + " " +
         (named.path == "-" ? std::string("(standard input)") : Printable(named.path));
}

}  // namespace

bool CheckDistinct(const std::vector<NamedPath>& inputs, const std::vector<NamedPath>& outputs,
                   std::string* error) {
  std::vector<Identity> input_ids, output_ids;
  for (const NamedPath& input : inputs) input_ids.push_back(Identify(input.path));
  for (size_t o = 0; o < outputs.size(); ++o) {
    Identity id = Identify(outputs[o].path);
    for (size_t i = 0; i < inputs.size(); ++i) {
      if (!Same(id, input_ids[i])) continue;
      *error = RoleAndPath(outputs[o]) + " is the input " + RoleAndPath(inputs[i]) +
               "; refusing to overwrite it, nothing written";
      return false;
    }
    for (size_t earlier = 0; earlier < o; ++earlier) {
      if (!Same(id, output_ids[earlier])) continue;
      *error = RoleAndPath(outputs[o]) + " is the same file as " + RoleAndPath(outputs[earlier]) +
               "; nothing written";
      return false;
    }
    output_ids.push_back(id);
  }
  return true;
}

std::string Printable(const std::string& path) {
  std::string out;
  for (char c : path) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      out += c;
      continue;
    }
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", byte);
        out += hex;
    }
  }
  return out;
}

}  // namespace tonevolt
