// Files the tool reads and writes. Audio streams in blocks both ways. Every
// output is written to a temporary file in its own folder and renamed into
// place only when complete, so a failure leaves nothing half-written.
#pragma once

#include <sndfile.h>

#include <cstdint>
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
  // The next samples of the channel, at most `frames`; false at the end or
  // on a read error (then *error says why).
  bool Read(size_t frames, std::vector<float>* samples, std::string* error);
  uint64_t FramesRead() const { return m_frames_read; }
  // The frame count the header promises when it is known, else -1.
  int64_t PromisedFrames() const { return m_promised; }
  // After the end: fewer frames could be read than the header promises.
  bool Truncated() const;

 private:
  SNDFILE* m_file = nullptr;
  AudioInfo m_info;
  int m_channel = 0;
  std::vector<float> m_interleaved;
  uint64_t m_frames_read = 0;
  int64_t m_promised = -1;
  bool m_short_header = false;  // the header promises more than the file holds
};

// Reads a whole text file.
bool ReadText(const std::string& path, std::string* text, std::string* error);

// An output file in the making: a temporary file beside the final path,
// removed unless committed, also when the run is interrupted.
class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();

  // Creates the temporary file; false with a reason if the folder is not writable.
  bool Create(const std::string& final_path, std::string* error);
  const std::string& TempPath() const { return m_temp; }
  const std::string& FinalPath() const { return m_final; }
  // Renames the temporary file into place. The first commit holds off
  // interruptions: from then on the run completes.
  bool Commit(std::string* error);

 private:
  std::string m_final, m_temp;
  int m_slot = -1;
  bool m_committed = false;
};

// Checks that a path names an audio container this tool writes as 32-bit
// float (by extension: .wav, .aif/.aiff, .caf, .au, .w64).
bool CheckAudioOutputPath(const std::string& path, std::string* error);

// Mono 32-bit float samples into staged.TempPath(), in the container that
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
// Writes text into staged.TempPath().
bool WriteText(const StagedFile& staged, const std::string& text, std::string* error);

// Creates a folder and its missing parents.
bool MakeFolders(const std::string& path, std::string* error);

}  // namespace tonevolt
