// Raw float32 sample files, native byte order: how the test host, the
// module's reference driver and the JACK player pass signals and renders.
#pragma once

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// False when the file cannot be read or does not hold whole samples.
inline bool ReadFloats(const std::string& path, std::vector<float>* samples) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  samples->resize(bytes.size() / sizeof(float));
  std::memcpy(samples->data(), bytes.data(), samples->size() * sizeof(float));
  return bytes.size() % sizeof(float) == 0;
}

inline bool WriteFloats(const std::string& path, const std::vector<float>& samples) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(samples.data()),
            static_cast<std::streamsize>(samples.size() * sizeof(float)));
  return static_cast<bool>(out);
}
