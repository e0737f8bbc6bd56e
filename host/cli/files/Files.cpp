#include "files/Files.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "files/Cleanup.h"
#include "files/Paths.h"

namespace tonevolt {

namespace {

// Text inputs (events files) are small; these bound what one may cost.
constexpr long long kTextBytes = 64ll << 20;
constexpr size_t kLineBytes = 4096;

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

// Bytes of one frame when every frame has the same size, else 0.
int64_t BytesPerFrame(const SF_INFO& info) {
  int bytes = 0;
  switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
      bytes = 1;
      break;
    case SF_FORMAT_PCM_16:
      bytes = 2;
      break;
    case SF_FORMAT_PCM_24:
      bytes = 3;
      break;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
      bytes = 4;
      break;
    case SF_FORMAT_DOUBLE:
      bytes = 8;
      break;
  }
  return static_cast<int64_t>(bytes) * info.channels;
}

// libsndfile shortens a chunk that runs past the end of the file and logs
// "data : 137090 (should be 956)": for the data chunk in WAV, AIFF and AU,
// for the whole file in W64 and RF64, where it takes the data as far as it
// goes. Answers whether the file is short, and the frames its header promised when the frames have
// a fixed size (else *promised stays).
bool HeaderPromisesMore(SNDFILE* file, const SF_INFO& info, int64_t* promised) {
  static const char* const kShortened[] = {"data", "Data Size", "SSND", "riff", "Riff size"};
  char log[8192];
  log[0] = '\0';
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    size_t name = line.find_first_not_of(' ');
    size_t colon = line.find(':');
    if (name == std::string::npos || colon == std::string::npos) continue;
    size_t end = line.find_last_not_of(' ', colon - 1);
    const std::string label = line.substr(name, end + 1 - name);
    bool shortened = false;
    for (const char* known : kShortened) shortened = shortened || label == known;
    long long stated = 0, actual = 0;
    if (!shortened ||
        std::sscanf(line.c_str() + colon + 1, " %lld (should be %lld)", &stated, &actual) != 2 ||
        stated <= actual)
      continue;
    const int64_t frame_bytes = BytesPerFrame(info);
    if (frame_bytes > 0)
      *promised = info.frames + (stated - actual + frame_bytes - 1) / frame_bytes;
    return true;
  }
  return false;
}

// A cut Ogg stream shows once it is read to its end: it has no end flag.
bool EndedEarly(SNDFILE* file) {
  char log[8192];
  log[0] = '\0';
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  return std::strstr(log, "File ended unexpectedly") != nullptr;
}

// A file seen through libsndfile's virtual I/O as far longer than it is,
// so that a header whose chunk runs past the end is read (CAF refuses
// such a file otherwise) and its samples are read as far as they go.
constexpr sf_count_t kSeenLength = sf_count_t{1} << 50;

sf_count_t SeenLength(void*) { return kSeenLength; }
sf_count_t SeekIn(sf_count_t offset, int whence, void* fd) {
  return lseek(*static_cast<int*>(fd), static_cast<off_t>(offset), whence);
}
sf_count_t ReadIn(void* buffer, sf_count_t count, void* fd) {
  ssize_t got = read(*static_cast<int*>(fd), buffer, static_cast<size_t>(count));
  return got < 0 ? 0 : got;
}
sf_count_t WriteNone(const void*, sf_count_t, void*) { return 0; }
sf_count_t TellIn(void* fd) { return lseek(*static_cast<int*>(fd), 0, SEEK_CUR); }

}  // namespace

AudioReader::~AudioReader() {
  if (m_file != nullptr) sf_close(m_file);
  if (m_cut_fd >= 0) close(m_cut_fd);
}

SNDFILE* AudioReader::OpenCut(const std::string& path, SF_INFO* sf_info) {
  m_cut_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (m_cut_fd < 0) return nullptr;
  static SF_VIRTUAL_IO io = {SeenLength, SeekIn, ReadIn, WriteNone, TellIn};
  std::memset(sf_info, 0, sizeof *sf_info);
  SNDFILE* file = sf_open_virtual(&io, SFM_READ, sf_info, &m_cut_fd);
  // Only a container whose samples lie at its end, and whose header states
  // how many there are: another's length would be read past its end.
  if (file != nullptr &&
      ((sf_info->format & SF_FORMAT_TYPEMASK) != SF_FORMAT_CAF || BytesPerFrame(*sf_info) == 0 ||
       sf_info->frames >= kSeenLength / 2 / BytesPerFrame(*sf_info))) {
    sf_close(file);
    file = nullptr;
  }
  return file;
}

bool AudioReader::Open(const std::string& path, int channel, std::string* error) {
  const bool standard_input = path == "-";
  m_info.name = standard_input ? "standard input" : Printable(path);
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
      *error = name + ": " + std::strerror(errno);
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      *error = name + ": is a folder, not an audio file";
      return false;
    }
    if (access(path.c_str(), R_OK) != 0) {
      *error = name + ": " + std::strerror(errno);
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
  const std::string refusal = sf_strerror(nullptr);
  if (m_file == nullptr && !m_info.piped && sf_error(nullptr) == SF_ERR_MALFORMED_FILE) {
    m_file = OpenCut(path, &sf_info);
    m_short_header = m_file != nullptr;
  }
  if (m_file == nullptr) {
    *error = name + ": not an audio format libsndfile can read" +
             (m_info.piped ? " from a pipe" : "") + " (" + refusal + ")" +
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
  if (!m_info.piped && sf_info.frames != SF_COUNT_MAX) {
    m_promised = sf_info.frames;
    if (!m_short_header) {
      m_short_header = HeaderPromisesMore(m_file, sf_info, &m_promised);
      if (m_short_header && m_promised == sf_info.frames) m_promised = -1;
    }
  } else if (!m_info.piped) {
    m_short_header = HeaderPromisesMore(m_file, sf_info, &m_promised);
  }
  return true;
}

bool AudioReader::Read(size_t frames, std::vector<float>* samples, std::string* error) {
  const size_t channels = static_cast<size_t>(m_info.channels);
  m_interleaved.resize(frames * channels);
  sf_count_t got = sf_readf_float(m_file, m_interleaved.data(), static_cast<sf_count_t>(frames));
  if (got <= 0) {
    samples->clear();
    if (sf_error(m_file) != SF_ERR_NO_ERROR)
      *error = m_info.name + ": read error (" + sf_strerror(m_file) + ")";
    else if (m_frames_read == 0 && Truncated())
      *error = m_info.name + ": is truncated before its first whole frame; nothing to process";
    return false;
  }
  samples->resize(static_cast<size_t>(got));
  for (size_t i = 0; i < samples->size(); ++i)
    (*samples)[i] = m_interleaved[i * channels + static_cast<size_t>(m_channel)];
  if (channels > 1) {
    m_peaks.resize(channels);
    for (size_t i = 0; i < samples->size() * channels; ++i) {
      const float x = std::fabs(m_interleaved[i]);
      if (x > m_peaks[i % channels]) m_peaks[i % channels] = x;  // NaN never is
    }
  }
  m_frames_read += static_cast<uint64_t>(got);
  return true;
}

bool AudioReader::Truncated() const {
  if (m_short_header || EndedEarly(m_file)) return true;
  return m_promised >= 0 && m_frames_read < static_cast<uint64_t>(m_promised);
}

std::string SilentChannelHint(const AudioReader& reader) {
  // Silent: 40 dB under the loudest channel, which is above -60 dBFS.
  constexpr float kSoundPeak = 1e-3f, kSilentBelowLoudest = 1e-2f;
  const std::vector<float>& peaks = reader.ChannelPeaks();
  const int used = reader.Channel();
  if (peaks.size() < 2) return "";
  const size_t loudest =
      static_cast<size_t>(std::max_element(peaks.begin(), peaks.end()) - peaks.begin());
  if (!(peaks[loudest] > kSoundPeak) || peaks[used] > kSilentBelowLoudest * peaks[loudest])
    return "";
  char text[160];
  std::snprintf(text, sizeof text,
                "channel %d is silent and channel %zu holds the sound (peak %.0f dBFS): try "
                "--channel %zu",
                used, loudest, 20 * std::log10(peaks[loudest]), loudest);
  return text;
}

bool ReadText(const std::string& path, std::string* text, std::string* error) {
  const std::string name = Printable(path);
  // Not blocking on a FIFO without a writer: it is refused below.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(fd >= 0 ? fdopen(fd, "rb") : nullptr,
                                                       std::fclose);
  struct stat st;
  if (!file || fstat(fd, &st) != 0) {
    *error = name + ": " + std::strerror(errno);
    if (fd >= 0 && !file) close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = name + (S_ISDIR(st.st_mode) ? ": is a folder" : ": is not a regular file");
    return false;
  }
  if (st.st_size > kTextBytes) {
    *error =
        name + ": too big for a text file (at most " + std::to_string(kTextBytes >> 20) + " MB)";
    return false;
  }
  text->clear();
  char block[1 << 16];
  size_t line = 1, line_start = 0;
  for (size_t got; (got = std::fread(block, 1, sizeof block, file.get())) > 0;) {
    // It may grow while read: the limit holds for what is read.
    if (text->size() + got > static_cast<size_t>(kTextBytes)) {
      *error =
          name + ": too big for a text file (at most " + std::to_string(kTextBytes >> 20) + " MB)";
      return false;
    }
    text->append(block, got);
    for (size_t at = text->size() - got;; ++line) {
      size_t end = text->find('\n', at);
      size_t length = (end == std::string::npos ? text->size() : end) - line_start;
      if (length > kLineBytes) {
        *error = name + ": line " + std::to_string(line) + " is longer than " +
                 std::to_string(kLineBytes) + " bytes";
        return false;
      }
      if (end == std::string::npos) break;
      at = line_start = end + 1;
    }
  }
  if (std::ferror(file.get())) {
    *error = name + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

namespace {

// Where writing to path lands: symlinks followed to their target, which may
// not exist yet, with the folders resolved. Stops under /proc, whose links
// name open files rather than paths.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char resolved[PATH_MAX];
    if (realpath(folder.c_str(), resolved) == nullptr) return path;
    path = std::string(resolved) + (resolved[1] == '\0' ? "" : "/") + name;
    if (path.compare(0, 6, "/proc/") == 0) return path;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char target[PATH_MAX];
    ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || length == sizeof target) return path;
    std::string link(target, static_cast<size_t>(length));
    path = link[0] == '/' ? link : path.substr(0, path.find_last_of('/') + 1) + link;
  }
  return path;
}

// The descriptor a /proc/self/fd/N or /proc/PID/fd/N path (our own PID)
// names, else -1: /dev/stdout and /dev/fd/N lead there.
int OwnDescriptor(const std::string& path) {
  const std::string self = "/proc/self/fd/", own = "/proc/" + std::to_string(getpid()) + "/fd/";
  for (const std::string& prefix : {self, own}) {
    if (path.compare(0, prefix.size(), prefix) != 0) continue;
    std::string number = path.substr(prefix.size());
    if (number.empty() || number.size() > 6 ||
        number.find_first_not_of("0123456789") != std::string::npos)
      return -1;
    return std::atoi(number.c_str());
  }
  return -1;
}

}  // namespace

StagedFile::~StagedFile() {
  if (m_fd >= 0) close(m_fd);
  if (m_temp.empty() || m_committed) return;
  std::remove(m_temp.c_str());
  ForgetTemporary(m_slot);
}

bool StagedFile::Create(const std::string& final_path, std::string* error) {
  m_final = final_path;
  const std::string name = Printable(final_path);
  if (final_path.empty() || final_path.back() == '/') {
    *error = name + ": names a folder, not a file";
    return false;
  }
  m_target = FollowLinks(final_path);
  struct stat st;
  if (stat(m_target.c_str(), &st) != 0) {
    if (errno == ENOENT && m_target.compare(0, 6, "/proc/") != 0) return Stage(m_target, error);
    *error = "cannot write " + name + ": " + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = name + ": is a folder";
    return false;
  }
  if (S_ISBLK(st.st_mode)) {
    *error = name + ": is a block device; not writing to it";
    return false;
  }
  if (S_ISREG(st.st_mode) && m_target.compare(0, 6, "/proc/") != 0) {
    m_replaces = true;
    m_mode = st.st_mode & 07777;
    m_uid = st.st_uid;
    m_gid = st.st_gid;
    return Stage(m_target, error);
  }
  return WriteThrough(m_target, st, error);
}

bool StagedFile::Stage(const std::string& target, std::string* error) {
  size_t slash = target.find_last_of('/');
  std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  // "." + name + ".XXXXXX" within a name's length limit.
  const size_t kept = NAME_MAX - std::strlen("..XXXXXX");
  std::string pattern = folder + "." + name.substr(0, kept) + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  int fd, saved_errno;
  {
    // No interruption between creating the file and registering it.
    InterruptionsDeferred deferred;
    fd = mkostemp(buffer.data(), O_CLOEXEC);
    saved_errno = errno;
    if (fd >= 0) {
      m_slot = RegisterTemporary(buffer.data());
      if (m_slot < 0) {
        close(fd);
        std::remove(buffer.data());
        saved_errno = pattern.size() >= PATH_MAX ? ENAMETOOLONG : EMFILE;
        fd = -1;
      }
    }
  }
  if (fd < 0) {
    *error = "cannot write " + Printable(m_final) + ": " + std::strerror(saved_errno);
    return false;
  }
  m_fd = fd;
  m_temp = buffer.data();
  return true;
}

bool StagedFile::WriteThrough(const std::string& target, const struct stat& st,
                              std::string* error) {
  int own = OwnDescriptor(target);
  if (own >= 0) {
    m_fd = fcntl(own, F_DUPFD_CLOEXEC, 3);
  } else if (S_ISSOCK(st.st_mode)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (target.size() >= sizeof address.sun_path) {
      errno = ENAMETOOLONG;
    } else {
      std::memcpy(address.sun_path, target.c_str(), target.size() + 1);
      m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (m_fd >= 0 &&
          connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        int saved_errno = errno;
        close(m_fd);
        m_fd = -1;
        errno = saved_errno;
      }
    }
  } else {
    m_fd = open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  }
  if (m_fd < 0) {
    *error = "cannot write " + Printable(m_final) + ": " + std::strerror(errno);
    return false;
  }
  m_seekable = lseek(m_fd, 0, SEEK_CUR) >= 0;
  NoteWrittenThrough();
  return true;
}

std::FILE* StagedFile::OpenStream(std::string* error) const {
  int fd = fcntl(m_fd, F_DUPFD_CLOEXEC, 3);
  std::FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    *error = "cannot write " + Printable(m_final) + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
  }
  return file;
}

bool StagedFile::Commit(std::string* error) {
  HoldInterruptions();
  if (m_temp.empty()) {
    m_committed = true;
    return true;
  }
  if (m_replaces) {
    // The replaced file's owner (when we may give it) and permission bits.
    if (geteuid() == 0) {
      int ignored = fchown(m_fd, m_uid, m_gid);
      (void)ignored;
    }
    fchmod(m_fd, m_mode);
  } else {
    // mkstemp makes the file private; give it the usual permissions.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(m_fd, 0666 & ~mask);
  }
  if (std::rename(m_temp.c_str(), m_target.c_str()) != 0) {
    *error = "cannot write " + Printable(m_final) + ": " + std::strerror(errno);
    return false;
  }
  m_committed = true;
  ForgetTemporary(m_slot);
  return true;
}

bool CheckAudioOutputPath(const std::string& path, std::string* error) {
  if (ContainerFor(path) != 0) return true;
  *error = Printable(path) + ": name it .wav, .aiff, .caf, .au or .w64 (written as 32-bit float)";
  return false;
}

namespace {

// The bytes of samples a container's 32-bit sizes leave room for, kept well
// clear of the limit; 0: no limit.
uint64_t ByteLimit(int container) {
  if (container == SF_FORMAT_WAV || container == SF_FORMAT_AIFF || container == SF_FORMAT_AU)
    return 0xFFFFFFFFull - (1u << 20);
  return 0;
}

std::string TooLong(const std::string& path) {
  return "cannot write " + Printable(path) +
         ": too long for its container (4 GB); name it .w64 or .caf";
}

// Containers libsndfile writes in order, its header first, so that a pipe
// or a device that cannot seek can take them.
bool WritesInOrder(int container) { return container == SF_FORMAT_AU; }

}  // namespace

bool CheckAudioDestination(const StagedFile& out, int64_t frames, std::string* error) {
  const int container = ContainerFor(out.FinalPath());
  const uint64_t limit = ByteLimit(container);
  if (limit != 0 && frames > 0 && static_cast<uint64_t>(frames) * sizeof(float) > limit) {
    *error = TooLong(out.FinalPath());
    return false;
  }
  if (!out.Seekable() && !WritesInOrder(container)) {
    *error = Printable(out.FinalPath()) +
             ": a pipe or device that cannot seek; libsndfile writes only AU (.au) in order, "
             "or give a file";
    return false;
  }
  return true;
}

AudioWriter::~AudioWriter() {
  if (m_file != nullptr) sf_close(m_file);
}

bool AudioWriter::Open(const StagedFile& staged, int sample_rate, std::string* error) {
  m_name = staged.FinalPath();
  if (!CheckAudioDestination(staged, -1, error)) return false;
  SF_INFO info;
  std::memset(&info, 0, sizeof info);
  info.samplerate = sample_rate;
  info.channels = 1;
  const int container = ContainerFor(m_name);
  info.format = container | SF_FORMAT_FLOAT;
  m_file = sf_open_fd(staged.Descriptor(), SFM_WRITE, &info, SF_FALSE);
  if (m_file == nullptr) {
    *error = "cannot write " + Printable(m_name) + ": " + sf_strerror(nullptr);
    return false;
  }
  sf_command(m_file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  m_byte_limit = ByteLimit(container);
  return true;
}

bool AudioWriter::Write(const float* samples, size_t count, std::string* error) {
  m_bytes += count * sizeof(float);
  if (m_byte_limit != 0 && m_bytes > m_byte_limit) {
    *error = TooLong(m_name);
    return false;
  }
  sf_count_t written = sf_writef_float(m_file, samples, static_cast<sf_count_t>(count));
  if (written != static_cast<sf_count_t>(count)) {
    *error = "cannot write " + Printable(m_name) + ": " + sf_strerror(m_file);
    return false;
  }
  return true;
}

bool AudioWriter::Close(std::string* error) {
  int closed = sf_close(m_file);
  m_file = nullptr;
  if (closed != 0) {
    *error = "cannot write " + Printable(m_name) + ": " + sf_error_number(closed);
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
  std::FILE* file = staged.OpenStream(error);
  if (file == nullptr) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0) ok = false;
  if (!ok) *error = "cannot write " + Printable(staged.FinalPath()) + ": " + std::strerror(errno);
  return ok;
}

MadeFolders::~MadeFolders() {
  for (size_t i = m_made.size(); i-- > 0;) {
    rmdir(m_made[i].c_str());
    ForgetFolder(m_slots[i]);
  }
}

bool MadeFolders::Make(const std::string& path, std::string* error) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    std::string part = path.substr(0, at);
    struct stat st;
    if (stat(part.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) {
        *error = Printable(part) + ": is not a folder";
        return false;
      }
      continue;
    }
    // No interruption between making the folder and registering it.
    InterruptionsDeferred deferred;
    if (mkdir(part.c_str(), 0777) != 0) {
      *error = "cannot create folder " + Printable(part) + ": " + std::strerror(errno);
      return false;
    }
    m_made.push_back(part);
    m_slots.push_back(RegisterFolder(part));
  }
  return true;
}

void MadeFolders::Keep() {
  for (int slot : m_slots) ForgetFolder(slot);
  m_made.clear();
  m_slots.clear();
}

}  // namespace tonevolt
