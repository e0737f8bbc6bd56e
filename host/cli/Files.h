// Files the tool reads and writes. Every output is written to a temporary
// file in its own folder and renamed into place only when complete, so a
// failure leaves nothing half-written.
#pragma once

#include <string>
#include <vector>

namespace tonevolt {

struct AudioInfo {
  int sample_rate = 0;
  int channels = 0;
  long long frames = 0;
  std::string format;  // as libsndfile names it
};

// Reads one channel of an audio file libsndfile can read.
bool ReadAudio(const std::string& path, int channel, std::vector<float>* samples, AudioInfo* info,
               std::string* error);

// Reads a whole text file.
bool ReadText(const std::string& path, std::string* text, std::string* error);

// An output file in the making: a temporary file beside the final path.
class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();  // removes the temporary file unless committed

  // Creates the temporary file; false with a reason if the folder is not writable.
  bool Create(const std::string& final_path, std::string* error);
  const std::string& TempPath() const { return m_temp; }
  const std::string& FinalPath() const { return m_final; }
  // Renames the temporary file into place.
  bool Commit(std::string* error);

 private:
  std::string m_final, m_temp;
  bool m_committed = false;
};

// Checks that a path names an audio container this tool writes as 32-bit
// float (by extension: .wav, .aif/.aiff, .caf, .au, .w64).
bool CheckAudioOutputPath(const std::string& path, std::string* error);
// Writes mono 32-bit float samples into staged.TempPath(), in the container
// that staged.FinalPath()'s extension names.
bool WriteAudio(const StagedFile& staged, const std::vector<float>& samples, int sample_rate,
                std::string* error);
// Writes text into staged.TempPath().
bool WriteText(const StagedFile& staged, const std::string& text, std::string* error);

// Creates a folder and its missing parents.
bool MakeFolders(const std::string& path, std::string* error);

}  // namespace tonevolt
