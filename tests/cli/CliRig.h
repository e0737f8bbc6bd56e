// What the tool's tests share: a private folder per test, the program run
// as a user runs it (through a shell, or started and waited for by pid),
// and small audio helpers on libsndfile.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TonevoltPins.h"

struct Result {
  int code;
  std::string out, err;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// A number as the tool writes it in its messages, such as "10" or "5000".
inline std::string Shortest(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// The cutoff's range as the tool's messages give it: "10..5000".
inline std::string CutoffRange() { return Shortest(kCutoffMinHz) + ".." + Shortest(kCutoffMaxHz); }

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Interleaved samples into an audio file of the given libsndfile format.
inline void WriteAudio(const std::string& path, const std::vector<float>& samples, int rate,
                       int channels, int format) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
  sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size() / channels));
  sf_close(file);
}

// Interleaved float samples into a WAV file.
inline void WriteWav(const std::string& path, const std::vector<float>& samples, int rate,
                     int channels = 1) {
  WriteAudio(path, samples, rate, channels, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
}

inline std::vector<float> ReadMono(const std::string& path, int* rate = nullptr) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return {};
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
  std::vector<float> samples(static_cast<size_t>(info.frames));
  sf_readf_float(file, samples.data(), info.frames);
  sf_close(file);
  if (rate != nullptr) *rate = info.samplerate;
  return samples;
}

// A sine gliding from lo to hi Hz with a changing level.
inline std::vector<float> Glide(size_t count, int rate, double lo, double hi) {
  std::vector<float> samples(count);
  double phase = 0.1;
  for (size_t i = 0; i < count; ++i) {
    double t = static_cast<double>(i) / count;
    samples[i] = static_cast<float>((0.2 + 0.6 * t) * std::sin(2 * M_PI * phase));
    phase += (lo + (hi - lo) * t) / rate;
  }
  return samples;
}

// Bit-for-bit equality, NaN included.
inline ::testing::AssertionResult SameSamples(const std::vector<float>& a,
                                              const std::vector<float>& b) {
  if (a.size() != b.size())
    return ::testing::AssertionFailure() << "lengths " << a.size() << " and " << b.size();
  for (size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
      return ::testing::AssertionFailure() << "sample " << i << ": " << a[i] << " vs " << b[i];
  return ::testing::AssertionSuccess();
}

// Every name in a folder, hidden ones (temporary files) included.
inline std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        names.insert(entry->d_name);
    closedir(dir);
  }
  return names;
}

// How a started program ended.
struct Ended {
  int code;          // exit status, or -signal if a signal ended it
  long peak_rss_kb;  // its peak resident memory
  std::string out, err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tonevolt-cli.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_dir = pattern;
    m_io = m_dir + ".io";
    ASSERT_EQ(mkdir(m_io.c_str(), 0700), 0);
  }
  void TearDown() override { std::system(("rm -rf '" + m_dir + "' '" + m_io + "'").c_str()); }

  std::string Path(const std::string& name) const { return m_dir + "/" + name; }

  // Runs the program with these arguments (a shell word list); before is
  // shell text in front of the program, such as "cat x |" or "PATH=/x".
  Result Run(const std::string& args, const std::string& before = "") const {
    std::string command = before + " '" + TONEVOLT_PROGRAM + "' " + args + " >'" + m_io +
                          "/stdout' 2>'" + m_io + "/stderr'";
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(m_io + "/stdout"),
            ReadFile(m_io + "/stderr")};
  }

  // Starts the program with these arguments, standard input from /dev/null.
  pid_t Start(const std::vector<std::string>& args) const {
    std::vector<std::string> words = {TONEVOLT_PROGRAM};
    words.insert(words.end(), args.begin(), args.end());
    std::string out = m_io + "/stdout", err = m_io + "/stderr";
    pid_t pid = fork();
    if (pid == 0) {
      int in = open("/dev/null", O_RDONLY);
      int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(in, 0);
      dup2(out_fd, 1);
      dup2(err_fd, 2);
      std::vector<char*> argv;
      for (std::string& w : words) argv.push_back(&w[0]);
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    return pid;
  }

  Ended Wait(pid_t pid) const {
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return {code, usage.ru_maxrss, ReadFile(m_io + "/stdout"), ReadFile(m_io + "/stderr")};
  }

  std::string m_dir;
  std::string m_io;  // the program's stdout and stderr, outside m_dir
};
