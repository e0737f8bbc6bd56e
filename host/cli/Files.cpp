#include "Files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Cleanup.h"

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

// Containers libsndfile reads to their last frame from a pipe; others lose
// frames (RF64), read none (CAF) or fail (FLAC) there.
bool ReadsFromPipe(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_AIFF:
    case SF_FORMAT_AU:
      return true;
    default:
      return false;
  }
}

// libsndfile shortens a data chunk that runs past the end of the file and
// logs "data : 137090 (should be 956)". Answers whether it did, and the
// frames the header promised when the chunk holds whole frames only.
bool HeaderPromisesMore(SNDFILE* file, int64_t frames, int64_t* promised) {
  char log[8192];
  log[0] = '\0';
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    size_t name = line.find_first_not_of(' ');
    if (name == std::string::npos) continue;
    bool data_chunk = line.compare(name, 4, "data") == 0 ||
                      line.compare(name, 9, "Data Size") == 0 || line.compare(name, 4, "SSND") == 0;
    long long stated = 0, actual = 0;
    size_t colon = line.find(':');
    if (!data_chunk || colon == std::string::npos ||
        std::sscanf(line.c_str() + colon + 1, " %lld (should be %lld)", &stated, &actual) != 2 ||
        stated <= actual)
      continue;
    // Whole frames only in WAV and AU data; AIFF's SSND adds an offset.
    if (line.compare(name, 4, "SSND") != 0 && frames > 0 && actual % frames == 0)
      *promised = stated / (actual / frames);
    return true;
  }
  return false;
}

}  // namespace

AudioReader::~AudioReader() {
  if (m_file != nullptr) sf_close(m_file);
}

bool AudioReader::Open(const std::string& path, int channel, std::string* error) {
  const bool standard_input = path == "-";
  m_info.name = standard_input ? "standard input" : path;
  const std::string& name = m_info.name;
  struct stat st;
  if (standard_input) {
    if (isatty(STDIN_FILENO)) {
      *error = "standard input is a terminal: pipe an audio file into it, or give IN";
      return false;
    }
    if (fstat(STDIN_FILENO, &st) != 0) {
      *error = name + ": " + std::strerror(errno);
      return false;
    }
    m_info.piped = !S_ISREG(st.st_mode);
  } else {
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
    m_info.piped = !S_ISREG(st.st_mode);  // a named pipe or a device
  }
  if (!m_info.piped && st.st_size == 0) {
    *error = name + ": the file is empty";
    return false;
  }
  SF_INFO sf_info;
  std::memset(&sf_info, 0, sizeof sf_info);
  m_file = standard_input ? sf_open_fd(STDIN_FILENO, SFM_READ, &sf_info, 0)
                          : sf_open(path.c_str(), SFM_READ, &sf_info);
  if (m_file == nullptr) {
    *error = name + ": not an audio format libsndfile can read" +
             (m_info.piped ? " from a pipe" : "") + " (" + sf_strerror(nullptr) + ")" +
             (m_info.piped ? "; WAV, AIFF and AU can be piped, give others as a file" : "");
    return false;
  }
  m_info.sample_rate = sf_info.samplerate;
  m_info.channels = sf_info.channels;
  m_info.format = FormatName(sf_info.format);
  if (m_info.piped && !ReadsFromPipe(sf_info.format)) {
    *error = name + ": libsndfile cannot read " + m_info.format +
             " reliably from a pipe; give it as a file (WAV, AIFF and AU can be piped)";
    return false;
  }
  if (channel < 0 || channel >= sf_info.channels) {
    *error = name + ": has no channel " + std::to_string(channel) + " (it has " +
             std::to_string(sf_info.channels) + ", numbered from 0)";
    return false;
  }
  m_channel = channel;
  // A pipe's header may carry a placeholder length; a file's is a promise.
  if (!m_info.piped) {
    m_promised = sf_info.frames;
    m_short_header = HeaderPromisesMore(m_file, sf_info.frames, &m_promised);
    if (m_short_header && m_promised == sf_info.frames) m_promised = -1;
  }
  return true;
}

bool AudioReader::Read(size_t frames, std::vector<float>* samples, std::string* error) {
  const size_t channels = static_cast<size_t>(m_info.channels);
  m_interleaved.resize(frames * channels);
  sf_count_t got = sf_readf_float(m_file, m_interleaved.data(), static_cast<sf_count_t>(frames));
  if (got <= 0) {
    samples->clear();
    if (sf_error(m_file) != SF_ERR_NO_ERROR) {
      *error = m_info.name + ": read error (" + sf_strerror(m_file) + ")";
    }
    return false;
  }
  samples->resize(static_cast<size_t>(got));
  for (size_t i = 0; i < samples->size(); ++i)
    (*samples)[i] = m_interleaved[i * channels + static_cast<size_t>(m_channel)];
  m_frames_read += static_cast<uint64_t>(got);
  return true;
}

bool AudioReader::Truncated() const {
  if (m_short_header) return true;
  return m_promised >= 0 && m_frames_read < static_cast<uint64_t>(m_promised);
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
  if (m_temp.empty() || m_committed) return;
  std::remove(m_temp.c_str());
  ForgetTemporary(m_slot);
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
  int fd, saved_errno;
  {
    // No interruption between creating the file and registering it.
    InterruptionsDeferred deferred;
    fd = mkstemp(buffer.data());
    saved_errno = errno;
    if (fd >= 0) {
      close(fd);
      m_slot = RegisterTemporary(buffer.data());
      if (m_slot < 0) {
        std::remove(buffer.data());
        saved_errno = EMFILE;
        fd = -1;
      }
    }
  }
  if (fd < 0) {
    *error = "cannot write " + final_path + ": " + std::strerror(saved_errno);
    return false;
  }
  m_temp = buffer.data();
  return true;
}

bool StagedFile::Commit(std::string* error) {
  HoldInterruptions();
  // mkstemp makes the file private; give it the usual permissions.
  mode_t mask = umask(0);
  umask(mask);
  chmod(m_temp.c_str(), 0666 & ~mask);
  if (std::rename(m_temp.c_str(), m_final.c_str()) != 0) {
    *error = "cannot write " + m_final + ": " + std::strerror(errno);
    return false;
  }
  m_committed = true;
  ForgetTemporary(m_slot);
  return true;
}

bool CheckAudioOutputPath(const std::string& path, std::string* error) {
  if (ContainerFor(path) != 0) return true;
  *error = path + ": name it .wav, .aiff, .caf, .au or .w64 (written as 32-bit float)";
  return false;
}

AudioWriter::~AudioWriter() {
  if (m_file != nullptr) sf_close(m_file);
}

bool AudioWriter::Open(const StagedFile& staged, int sample_rate, std::string* error) {
  m_name = staged.FinalPath();
  SF_INFO info;
  std::memset(&info, 0, sizeof info);
  info.samplerate = sample_rate;
  info.channels = 1;
  const int container = ContainerFor(m_name);
  info.format = container | SF_FORMAT_FLOAT;
  m_file = sf_open(staged.TempPath().c_str(), SFM_WRITE, &info);
  if (m_file == nullptr) {
    *error = "cannot write " + m_name + ": " + sf_strerror(nullptr);
    return false;
  }
  sf_command(m_file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  // Sizes in these headers are 32-bit; keep well clear of the limit.
  if (container == SF_FORMAT_WAV || container == SF_FORMAT_AIFF || container == SF_FORMAT_AU)
    m_byte_limit = 0xFFFFFFFFull - (1u << 20);
  return true;
}

bool AudioWriter::Write(const float* samples, size_t count, std::string* error) {
  m_bytes += count * sizeof(float);
  if (m_byte_limit != 0 && m_bytes > m_byte_limit) {
    *error = "cannot write " + m_name + ": too long for its container (4 GB); name it .w64 or .caf";
    return false;
  }
  sf_count_t written = sf_writef_float(m_file, samples, static_cast<sf_count_t>(count));
  if (written != static_cast<sf_count_t>(count)) {
    *error = "cannot write " + m_name + ": " + sf_strerror(m_file);
    return false;
  }
  return true;
}

bool AudioWriter::Close(std::string* error) {
  int closed = sf_close(m_file);
  m_file = nullptr;
  if (closed != 0) {
    *error = "cannot write " + m_name + ": " + sf_error_number(closed);
    return false;
  }
  return true;
}

bool WriteAudio(const StagedFile& staged, const std::vector<float>& samples, int sample_rate,
                std::string* error) {
  AudioWriter writer;
  return writer.Open(staged, sample_rate, error) &&
         writer.Write(samples.data(), samples.size(), error) && writer.Close(error);
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
