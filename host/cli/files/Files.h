// Files the tool reads and writes. Audio streams in blocks both ways. An
// output that is a regular file (or new) is written to a temporary file beside
// it and renamed into place only when complete, so a failure leaves nothing
// half-written; a device, FIFO or socket is written through as it goes.
#pragma once

#include <sndfile.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tonevolt {

struct AudioInfo {
  std::string name;  // the path, or "standard input"
  int sample_rate = 0;
  int channels = 0;
  std::string format;  // as libsndfile names it
  bool piped = false;  // read from a pipe: no length known ahead
};

// Reads one channel of an audio file libsndfile can read, block by block.
// "-" is standard input: a file redirected into it can be any format, a pipe
// one of those libsndfile reads completely from a pipe (WAV, AIFF, AU).
class AudioReader {
 public:
  AudioReader() = default;
  AudioReader(const AudioReader&) = delete;
  AudioReader& operator=(const AudioReader&) = delete;
  ~AudioReader();

  bool Open(const std::string& path, int channel, std::string* error);
  const AudioInfo& Info() const { return m_info; }
  int Channel() const { return m_channel; }
  // The next samples of the channel, at most `frames`; false at the end or
  // on a read error (then *error says why).
  bool Read(size_t frames, std::vector<float>* samples, std::string* error);
  uint64_t FramesRead() const { return m_frames_read; }
  // The frame count the header promises when it is known, else -1.
  int64_t PromisedFrames() const { return m_promised; }
  // After the end: fewer frames could be read than the header promises.
  bool Truncated() const;
  // The loudest sample of each channel read so far, in absolute value.
  const std::vector<float>& ChannelPeaks() const { return m_peaks; }

 private:
  // A file whose header promises more than it holds, opened as far as it goes.
  SNDFILE* OpenCut(const std::string& path, SF_INFO* sf_info);

  SNDFILE* m_file = nullptr;
  int m_cut_fd = -1;  // the file OpenCut reads
  AudioInfo m_info;
  int m_channel = 0;
  std::vector<float> m_interleaved;
  std::vector<float> m_peaks;  // per channel
  uint64_t m_frames_read = 0;
  int64_t m_promised = -1;
  bool m_short_header = false;  // the header promises more than the file holds
};

// Where the channel read is silent and another holds sound: "channel 0 is
// silent and channel 1 holds the sound (peak -6 dBFS): try --channel 1";
// empty otherwise. For a reading that found no pitch.
std::string SilentChannelHint(const AudioReader& reader);

// Reads a whole text file: a regular file of at most 64 MB whose lines are
// at most 4 KB, so that a device or a runaway file cannot eat the memory.
bool ReadText(const std::string& path, std::string* text, std::string* error);

// An output in the making. A regular file, or a new one, gets a temporary
// file beside it (beside a symlink's target: the link stays a link), removed
// unless committed, also when the run is interrupted, then renamed into
// place with the replaced file's permissions. A character device, FIFO,
// socket or open descriptor (/dev/stdout, /dev/fd/N) is written through in
// order and never removed.
class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();

  // Opens where the output goes; false with a reason if it cannot be
  // written. A FIFO waits here for its reader, as with any Unix filter.
  bool Create(const std::string& final_path, std::string* error);
  const std::string& FinalPath() const { return m_final; }
  // The temporary file; empty when written through.
  const std::string& TempPath() const { return m_temp; }
  bool Created() const { return m_fd >= 0; }
  // Where the bytes go, open for writing; the file keeps it.
  int Descriptor() const { return m_fd; }
  // False for a pipe, socket or terminal, which cannot be written out of order.
  bool Seekable() const { return m_seekable; }
  // A stdio stream of its own on Descriptor(); null with a reason.
  std::FILE* OpenStream(std::string* error) const;
  // Renames the temporary file into place. The first commit holds off
  // interruptions: from then on the run completes.
  bool Commit(std::string* error);

 private:
  bool Stage(const std::string& target, std::string* error);
  bool WriteThrough(const std::string& target, const struct stat& st, std::string* error);

  std::string m_final, m_target, m_temp;
  int m_fd = -1;
  bool m_seekable = true;
  bool m_replaces = false;  // the target exists: keep its owner and mode
  unsigned m_mode = 0;
  unsigned m_uid = 0, m_gid = 0;
  int m_slot = -1;
  bool m_committed = false;
};

// Checks that a path names an audio container this tool writes as 32-bit
// float (by extension: .wav, .aif/.aiff, .caf, .au, .w64).
bool CheckAudioOutputPath(const std::string& path, std::string* error);

// Checks, before any work, that `frames` mono 32-bit float frames (-1:
// not known ahead) fit the container path names, and that a destination
// that cannot seek gets a container libsndfile writes in order (AU only).
bool CheckAudioDestination(const StagedFile& out, int64_t frames, std::string* error);

// Mono 32-bit float samples into staged.Descriptor(), in the container that
// staged.FinalPath()'s extension names, block by block. Without a PEAK
// chunk, whose time stamp would make every run's file differ.
class AudioWriter {
 public:
  AudioWriter() = default;
  AudioWriter(const AudioWriter&) = delete;
  AudioWriter& operator=(const AudioWriter&) = delete;
  ~AudioWriter();

  bool Open(const StagedFile& staged, int sample_rate, std::string* error);
  bool Write(const float* samples, size_t count, std::string* error);
  bool Close(std::string* error);

 private:
  SNDFILE* m_file = nullptr;
  std::string m_name;
  uint64_t m_byte_limit = 0;  // containers with 32-bit sizes; 0: none
  uint64_t m_bytes = 0;
};

// A whole signal through AudioWriter.
bool WriteAudio(const StagedFile& staged, const std::vector<float>& samples, int sample_rate,
                std::string* error);
// Writes text into staged.Descriptor().
bool WriteText(const StagedFile& staged, const std::string& text, std::string* error);

// Folders made for outputs: removed again (only the ones made, only if
// empty) unless kept, also when the run is interrupted.
class MadeFolders {
 public:
  MadeFolders() = default;
  MadeFolders(const MadeFolders&) = delete;
  MadeFolders& operator=(const MadeFolders&) = delete;
  ~MadeFolders();

  // Creates a folder and its missing parents.
  bool Make(const std::string& path, std::string* error);
  void Keep();

 private:
  std::vector<std::string> m_made;  // parents first
  std::vector<int> m_slots;
};

}  // namespace tonevolt
