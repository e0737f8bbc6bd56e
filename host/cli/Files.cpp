#include "Files.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tonevolt {

namespace {

std::string Extension(const std::string& path) {
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

int ContainerFor(const std::string& path) {
  std::string ext = Extension(path);
  if (ext == "wav") return SF_FORMAT_WAV;
  if (ext == "aif" || ext == "aiff") return SF_FORMAT_AIFF;
  if (ext == "caf") return SF_FORMAT_CAF;
  if (ext == "au") return SF_FORMAT_AU;
  if (ext == "w64") return SF_FORMAT_W64;
  return 0;
}

std::string FormatName(int format) {
  SF_FORMAT_INFO info;
  std::memset(&info, 0, sizeof info);
  info.format = format & SF_FORMAT_TYPEMASK;
  std::string name =
      sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr
          ? info.name
          : "audio";
  info.format = format & SF_FORMAT_SUBMASK;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name != nullptr)
    name += std::string(", ") + info.name;
  return name;
}

}  // namespace

bool ReadAudio(const std::string& path, int channel, std::vector<float>* samples, AudioInfo* info,
               std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = path + ": is a folder, not an audio file";
    return false;
  }
  if (access(path.c_str(), R_OK) != 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  if (st.st_size == 0) {
    *error = path + ": the file is empty";
    return false;
  }
  SF_INFO sf_info;
  std::memset(&sf_info, 0, sizeof sf_info);
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sf_info);
  if (file == nullptr) {
    *error = path + ": not an audio format libsndfile can read (" + sf_strerror(nullptr) + ")";
    return false;
  }
  info->sample_rate = sf_info.samplerate;
  info->channels = sf_info.channels;
  info->frames = sf_info.frames;
  info->format = FormatName(sf_info.format);
  if (channel < 0 || channel >= sf_info.channels) {
    sf_close(file);
    *error = path + ": has no channel " + std::to_string(channel) + " (it has " +
             std::to_string(sf_info.channels) + ", numbered from 0)";
    return false;
  }
  // Read in pieces: the frame count of some formats is only an estimate.
  const sf_count_t chunk = 8192;
  std::vector<float> frames(static_cast<size_t>(chunk) * sf_info.channels);
  samples->clear();
  for (;;) {
    sf_count_t got = sf_readf_float(file, frames.data(), chunk);
    if (got <= 0) break;
    for (sf_count_t i = 0; i < got; ++i) samples->push_back(frames[i * sf_info.channels + channel]);
  }
  bool failed = sf_error(file) != SF_ERR_NO_ERROR;
  std::string why = sf_strerror(file);
  sf_close(file);
  if (failed) {
    *error = path + ": read error (" + why + ")";
    return false;
  }
  if (samples->empty()) {
    *error = path + ": has no samples";
    return false;
  }
  info->frames = static_cast<long long>(samples->size());
  return true;
}

bool ReadText(const std::string& path, std::string* text, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    *error = path + ": is a folder";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return true;
}

StagedFile::~StagedFile() {
  if (!m_temp.empty() && !m_committed) std::remove(m_temp.c_str());
}

bool StagedFile::Create(const std::string& final_path, std::string* error) {
  m_final = final_path;
  size_t slash = final_path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : final_path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
  if (name.empty()) {
    *error = final_path + ": names a folder, not a file";
    return false;
  }
  struct stat st;
  if (stat(final_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    *error = final_path + ": is a folder";
    return false;
  }
  std::string pattern =
      (slash == std::string::npos ? std::string() : folder) + "." + name + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  int fd = mkstemp(buffer.data());
  if (fd < 0) {
    *error = "cannot write " + final_path + ": " + std::strerror(errno);
    return false;
  }
  close(fd);
  m_temp = buffer.data();
  return true;
}

bool StagedFile::Commit(std::string* error) {
  // mkstemp makes the file private; give it the usual permissions.
  mode_t mask = umask(0);
  umask(mask);
  chmod(m_temp.c_str(), 0666 & ~mask);
  if (std::rename(m_temp.c_str(), m_final.c_str()) != 0) {
    *error = "cannot write " + m_final + ": " + std::strerror(errno);
    return false;
  }
  m_committed = true;
  return true;
}

bool CheckAudioOutputPath(const std::string& path, std::string* error) {
  if (ContainerFor(path) != 0) return true;
  *error = path + ": name it .wav, .aiff, .caf, .au or .w64 (written as 32-bit float)";
  return false;
}

bool WriteAudio(const StagedFile& staged, const std::vector<float>& samples, int sample_rate,
                std::string* error) {
  SF_INFO info;
  std::memset(&info, 0, sizeof info);
  info.samplerate = sample_rate;
  info.channels = 1;
  info.format = ContainerFor(staged.FinalPath()) | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(staged.TempPath().c_str(), SFM_WRITE, &info);
  if (file == nullptr) {
    *error = "cannot write " + staged.FinalPath() + ": " + sf_strerror(nullptr);
    return false;
  }
  sf_count_t written =
      sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  int closed = sf_close(file);
  if (written != static_cast<sf_count_t>(samples.size()) || closed != 0) {
    *error = "cannot write " + staged.FinalPath() + ": short write";
    return false;
  }
  return true;
}

bool WriteText(const StagedFile& staged, const std::string& text, std::string* error) {
  std::FILE* file = std::fopen(staged.TempPath().c_str(), "wb");
  bool ok = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file != nullptr && std::fclose(file) != 0) ok = false;
  if (!ok) *error = "cannot write " + staged.FinalPath() + ": " + std::strerror(errno);
  return ok;
}

bool MakeFolders(const std::string& path, std::string* error) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    std::string part = path.substr(0, at);
    struct stat st;
    if (stat(part.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) {
        *error = part + ": is not a folder";
        return false;
      }
      continue;
    }
    if (mkdir(part.c_str(), 0777) != 0) {
      *error = "cannot create folder " + part + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace tonevolt
