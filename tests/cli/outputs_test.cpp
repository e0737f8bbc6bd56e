// Where the tool's outputs go and what it reads: outputs that are devices,
// FIFOs, sockets, symlinks or files with their own permissions keep their
// kind and get the data; cut input files warn and are processed as far as
// they go; events files are bounded; paths print escaped. Every case runs
// the built program.
#include <gtest/gtest.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CliRig.h"

namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Everything written into a FIFO or a listening socket, collected by a
// thread on a descriptor opened up front, so that it ends even when the
// program never opens the output or replaces it.
class Collector {
 public:
  static std::unique_ptr<Collector> Fifo(const std::string& path) {
    // Not blocking for a writer; poll() waits for one.
    return std::unique_ptr<Collector>(new Collector(open(path.c_str(), O_RDONLY | O_NONBLOCK), -1));
  }

  static std::unique_ptr<Collector> Socket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(listener, 1), 0);
    return std::unique_ptr<Collector>(new Collector(-1, listener));
  }

  // Once the program has ended: what it wrote.
  const std::string& Finish() {
    m_stop = true;
    m_thread.join();
    return m_bytes;
  }

 private:
  Collector(int fd, int listener) : m_fd(fd), m_listener(listener) {
    EXPECT_GE(fd >= 0 ? fd : listener, 0);
    m_thread = std::thread([this] { Collect(); });
  }

  // Waits for the descriptor; false once stopped with nothing more to come.
  bool Ready(int fd) {
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10) > 0) return true;
      if (m_stop) return false;
    }
  }

  void Collect() {
    if (m_listener >= 0) {
      if (Ready(m_listener)) m_fd = accept(m_listener, nullptr, nullptr);
      close(m_listener);
    }
    while (m_fd >= 0 && Ready(m_fd)) {
      char block[65536];
      ssize_t got = read(m_fd, block, sizeof block);
      if (got > 0) {
        m_bytes.append(block, static_cast<size_t>(got));
        continue;
      }
      if (got == 0) break;  // the writer came and went
    }
    if (m_fd >= 0) close(m_fd);
  }

  int m_fd, m_listener;
  std::atomic<bool> m_stop{false};
  std::string m_bytes;
  std::thread m_thread;
};

// ------------------------------------------- outputs of every kind

enum class Kind {
  kCharDevice,
  kFifo,
  kSocket,
  kSymlink,
  kDanglingSymlink,
  kPrivateFile,
  kLongName,
  kOpenDescriptor
};

struct KindCase {
  const char* name;
  Kind kind;
  const char* option;  // "OUT" or "--csv"
  const char* file;    // the output's name in the test folder
  bool refused;        // exit 2 with one line, the output untouched
};

const KindCase kKindCases[] = {
    {"csv_to_a_character_device", Kind::kCharDevice, "--csv", "null", false},
    {"csv_to_a_fifo", Kind::kFifo, "--csv", "cv.csv", false},
    {"au_out_to_a_fifo", Kind::kFifo, "OUT", "cv.au", false},
    {"wav_out_to_a_fifo_is_refused", Kind::kFifo, "OUT", "cv.wav", true},
    {"w64_out_to_a_fifo_is_refused", Kind::kFifo, "OUT", "cv.w64", true},
    {"csv_to_a_socket", Kind::kSocket, "--csv", "cv.csv", false},
    {"wav_out_through_a_symlink", Kind::kSymlink, "OUT", "link.wav", false},
    {"csv_through_a_dangling_symlink", Kind::kDanglingSymlink, "--csv", "link.csv", false},
    {"private_wav_out_stays_private", Kind::kPrivateFile, "OUT", "mine.wav", false},
    {"csv_with_the_longest_legal_name", Kind::kLongName, "--csv", "", false},
    {"csv_to_an_open_descriptor", Kind::kOpenDescriptor, "--csv", "cv.csv", false},
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class OutputKindTest : public CliTest, public ::testing::WithParamInterface<KindCase> {};

// The same render to plain new files is the reference for the data.
TEST_P(OutputKindTest, KeepsItsKindAndGetsTheData) {
  const KindCase& c = GetParam();
  WriteWav(Path("in.wav"), Glide(6000, 8000, 200, 900), 8000);
  ASSERT_EQ(mkdir(Path("ref").c_str(), 0777), 0);
  const bool csv = std::string(c.option) == "--csv";
  const std::string ext = csv ? ".csv" : std::string(c.file).substr(std::string(c.file).rfind('.'));
  const std::string ref = Path("ref/out" + ext);
  Result reference =
      Run("render " + Quoted(Path("in.wav")) + (csv ? " --csv " : " ") + Quoted(ref));
  ASSERT_EQ(reference.code, 0) << reference.err;

  std::string name = c.kind == Kind::kLongName ? std::string(NAME_MAX - 4, 'n') + ".csv" : c.file;
  const std::string out = Path(name), target = Path("target" + ext);
  std::unique_ptr<Collector> collector;
  std::string redirect;
  switch (c.kind) {
    case Kind::kCharDevice:
      if (geteuid() != 0) GTEST_SKIP() << "mknod needs root";
      if (mknod(out.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "mknod refused here: " << std::strerror(errno);
      break;
    case Kind::kFifo:
      ASSERT_EQ(mkfifo(out.c_str(), 0644), 0);
      collector = Collector::Fifo(out);
      break;
    case Kind::kSocket:
      collector = Collector::Socket(out);
      break;
    case Kind::kSymlink:
      WriteText(target, "an older file");
      ASSERT_EQ(symlink(("target" + ext).c_str(), out.c_str()), 0);
      break;
    case Kind::kDanglingSymlink:
      ASSERT_EQ(symlink(("target" + ext).c_str(), out.c_str()), 0);
      break;
    case Kind::kPrivateFile:
      WriteText(out, "an older file");
      ASSERT_EQ(chmod(out.c_str(), 0600), 0);
      break;
    case Kind::kLongName:
      break;
    case Kind::kOpenDescriptor:
      WriteText(out, "kept: ");
      redirect = " 3>>" + Quoted(out);
      break;
  }
  const std::string named = c.kind == Kind::kOpenDescriptor ? "/dev/fd/3" : out;
  struct stat before {};
  lstat(out.c_str(), &before);

  Result r =
      Run("render " + Quoted(Path("in.wav")) + (csv ? " --csv " : " ") + Quoted(named) + redirect);
  std::string collected = collector ? collector->Finish() : "";

  struct stat after {};
  ASSERT_EQ(lstat(out.c_str(), &after), 0) << "the output is gone";
  EXPECT_EQ(after.st_mode, before.st_mode == 0 ? after.st_mode : before.st_mode)
      << "its kind or permissions changed";
  if (c.kind == Kind::kCharDevice) {
    EXPECT_EQ(after.st_rdev, before.st_rdev);
  }
  if (c.refused) {
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("cannot seek"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(".au"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(collected, "");
    EXPECT_EQ(Listing(m_dir), (std::set<std::string>{"in.wav", "ref", name}));
    return;
  }
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::string written;
  switch (c.kind) {
    case Kind::kCharDevice:
      return;  // a null device keeps nothing to compare
    case Kind::kFifo:
    case Kind::kSocket:
      written = collected;
      break;
    case Kind::kSymlink:
    case Kind::kDanglingSymlink:
      written = ReadFile(target);
      break;
    case Kind::kOpenDescriptor:
      written = ReadFile(out);
      ASSERT_EQ(written.rfind("kept: ", 0), 0u) << "appended to, not replaced";
      written = written.substr(6);
      break;
    default:
      written = ReadFile(out);
  }
  if (csv) {
    EXPECT_EQ(written, ReadFile(ref));
  } else {
    // AU through a pipe states no length; the samples are the same.
    WriteText(Path("collected" + ext), written);
    EXPECT_TRUE(SameSamples(ReadMono(Path("collected" + ext)), ReadMono(ref)));
  }
  std::set<std::string> expected = {"in.wav", "ref", name};
  if (c.kind == Kind::kSymlink || c.kind == Kind::kDanglingSymlink) expected.insert("target" + ext);
  if (!csv) expected.insert("collected" + ext);
  EXPECT_EQ(Listing(m_dir), expected) << "a temporary file was left behind";
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputKindTest, ::testing::ValuesIn(kKindCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Interrupted while writing a CSV into a FIFO: the FIFO stays, its reader
// keeps what it got, and the message says so.
TEST_F(CliTest, InterruptedWhileWritingThroughKeepsTheFifo) {
  WriteWav(Path("long.wav"), Glide(8000 * 600, 8000, 100, 1000), 8000);
  ASSERT_EQ(mkfifo(Path("cv.csv").c_str(), 0644), 0);
  std::unique_ptr<Collector> collector = Collector::Fifo(Path("cv.csv"));
  pid_t pid = Start({"render", Path("long.wav"), Path("out.wav"), "--csv", Path("cv.csv")});
  ASSERT_GT(pid, 0);
  for (int wait = 0; wait < 1000 && Listing(m_dir).size() < 3; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(pid, SIGTERM);
  Ended ended = Wait(pid);
  const std::string& got = collector->Finish();
  EXPECT_EQ(ended.code, 143);
  EXPECT_EQ(ended.err,
            "tonevolt: interrupted; nothing written but what already went to a device or pipe\n");
  EXPECT_EQ(got.rfind("time_s,", 0), 0u);
  struct stat st {};
  ASSERT_EQ(lstat(Path("cv.csv").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(Listing(m_dir), (std::set<std::string>{"long.wav", "cv.csv"}));
}

// A header promising more than 4 GB of output is refused for a container
// with 32-bit sizes before any work (a sparse file: no time, no disk).
TEST_F(CliTest, OutputTooLongForItsContainerIsRefusedUpFront) {
  const uint32_t frames = 3000000000u;  // 8-bit mono: 12 GB as 32-bit float
  std::string header = "RIFF" + std::string(4, '\0') + "WAVEfmt ";
  const uint32_t fields[] = {16, 1 | (1 << 16), 44100, 44100, 1 | (8 << 16)};
  for (uint32_t field : fields) header.append(reinterpret_cast<const char*>(&field), 4);
  header += "data";
  header.append(reinterpret_cast<const char*>(&frames), 4);
  const uint32_t riff_bytes = frames + 36;
  header.replace(4, 4, reinterpret_cast<const char*>(&riff_bytes), 4);
  WriteText(Path("big.wav"), header);
  ASSERT_EQ(truncate(Path("big.wav").c_str(), off_t{44} + frames), 0);
  for (const char* out : {"out.wav", "out.aiff", "out.au"}) {
    SCOPED_TRACE(out);
    Result r = Run("render " + Quoted(Path("big.wav")) + " " + Quoted(Path(out)));
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("too long for its container (4 GB); name it .w64 or .caf"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(Listing(m_dir), std::set<std::string>{"big.wav"});
  }
}

// ------------------------------------------------------ cut inputs

struct CutCase {
  const char* name;
  int format;
  size_t frames;     // written before the cut
  double keep;       // the part of the file's bytes kept
  const char* told;  // how the warning ends, {frames} standing for those written
};

const char kPromised[] = "frames of the 80000 its header promises; processing those";

const CutCase kCutCases[] = {
    {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 80000, 0.6, kPromised},
    {"w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, 80000, 0.6, kPromised},
    {"rf64", SF_FORMAT_RF64 | SF_FORMAT_FLOAT, 80000, 0.6, kPromised},
    {"caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 80000, 0.6, kPromised},
    {"aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 80000, 0.6, kPromised},
    // Vorbis packs a few seconds a page: enough of them to cut some off.
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 8000 * 60, 0.6,
     "frames before its cut end; processing those"},
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

class CutInputTest : public CliTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(CutInputTest, WarnsAndProcessesWhatIsThere) {
  const CutCase& c = GetParam();
  std::vector<float> samples = Glide(c.frames, 8000, 100, 2000);
  for (size_t i = 0; i < samples.size(); i += 7) samples[i] += 0.05f * ((i * 7919) % 13 - 6) / 6;
  WriteAudio(Path("whole.snd"), samples, 8000, 1, c.format);
  std::string whole = ReadFile(Path("whole.snd"));
  const std::string cut = Path(std::string("cut.") + c.name);
  WriteText(cut, whole.substr(0, static_cast<size_t>(whole.size() * c.keep)));

  Result r = Run("render " + Quoted(cut) + " " + Quoted(Path("out.w64")));
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string opening = "tonevolt: warning: " + cut + " is truncated: read ";
  ASSERT_EQ(r.err.rfind(opening, 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  const size_t read = std::stoul(r.err.substr(opening.size()));
  EXPECT_GT(read, 0u);
  EXPECT_LT(read, c.frames);
  EXPECT_NE(r.err.find(std::string(c.told) + "\n"), std::string::npos) << r.err;
  EXPECT_EQ(ReadMono(Path("out.w64")).size(), read);
  EXPECT_NE(r.out.find("(" + std::to_string(read) + " samples)"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Cases, CutInputTest, ::testing::ValuesIn(kCutCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------- events files

struct EventsCase {
  const char* name;
  const char* message;  // {dir} stands for the test folder
};

const EventsCase kEventsCases[] = {
    {"a_device", "/dev/zero: is not a regular file"},
    {"a_fifo", "{dir}/events.txt: is not a regular file"},
    {"over_64_mb", "{dir}/events.txt: too big for a text file (at most 64 MB)"},
    {"a_line_over_4_kb", "{dir}/events.txt: line 3 is longer than 4096 bytes"},
};

void PrintTo(const EventsCase& c, std::ostream* os) { *os << c.name; }

class EventsFileTest : public CliTest, public ::testing::WithParamInterface<EventsCase> {};

TEST_P(EventsFileTest, IsRefusedWithOneLine) {
  const EventsCase& c = GetParam();
  WriteWav(Path("in.wav"), Glide(4000, 8000, 300, 600), 8000);
  std::string events = Path("events.txt");
  const std::string name = c.name;
  if (name == "a_device") events = "/dev/zero";
  if (name == "a_fifo") {
    ASSERT_EQ(mkfifo(events.c_str(), 0644), 0);
  }
  if (name == "over_64_mb") {
    WriteText(events, "0 Octave 1\n");
    ASSERT_EQ(truncate(events.c_str(), (64 << 20) + 1), 0);
  }
  if (name == "a_line_over_4_kb")
    WriteText(events, "0 Octave 1\n# fine\n# " + std::string(4095, 'x') + "\n");
  Result r = Run("render " + Quoted(Path("in.wav")) + " " + Quoted(Path("out.wav")) + " --events " +
                 Quoted(events));
  EXPECT_EQ(r.code, 1);
  std::string message = c.message;
  if (message.find("{dir}") != std::string::npos) message.replace(message.find("{dir}"), 5, m_dir);
  EXPECT_EQ(r.err, "tonevolt: " + message + "\n");
  EXPECT_FALSE(Exists(Path("out.wav")));
}

INSTANTIATE_TEST_SUITE_P(Cases, EventsFileTest, ::testing::ValuesIn(kEventsCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A line of exactly 4096 bytes is within the limit.
TEST_F(CliTest, EventsLineOfTheLimitIsRead) {
  WriteWav(Path("in.wav"), Glide(4000, 8000, 300, 600), 8000);
  WriteText(Path("events.txt"), "#" + std::string(4095, 'x') + "\n100 Octave 1\n");
  Result r = Run("render " + Quoted(Path("in.wav")) + " --events " + Quoted(Path("events.txt")));
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("1 change from"), std::string::npos) << r.out;
}

// ------------------------------------------------ what is printed

// A file name's control characters are printed escaped, in the summary
// and in errors, each message still one line.
TEST_F(CliTest, ControlCharactersInNamesPrintEscaped) {
  const std::string odd = "in\n\x1b[31mred\t.wav";
  WriteWav(Path(odd), Glide(4000, 8000, 300, 600), 8000);
  Result r = Run("render " + Quoted(Path(odd)) + " " + Quoted(Path("o\tx.wav")));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Input     " + m_dir + "/in\\n\\x1b[31mred\\t.wav: "), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Output    " + m_dir + "/o\\tx.wav: "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);

  Result missing = Run("render " + Quoted(Path("gone\n\x1b[2J.wav")));
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err,
            "tonevolt: " + m_dir + "/gone\\n\\x1b[2J.wav: No such file or directory\n");
}

// gnuplot's failure comes with its reason: its last words, else how it ended.
TEST_F(CliTest, FailingGnuplotSaysWhy) {
  WriteWav(Path("in.wav"), Glide(4000, 8000, 300, 600), 8000);
  ASSERT_EQ(mkdir(Path("bin").c_str(), 0777), 0);
  const struct {
    const char* script;  // after reading the whole script
    const char* reason;
  } kCases[] = {
      {"echo 'set output' >&2; echo '         \"-\", line 9: cannot open file' >&2;"
       " echo '         ^' >&2; exit 1",
       "\"-\", line 9: cannot open file"},
      {"kill -KILL $$", "gnuplot was ended by signal 9 (Killed)"},
      {"exit 3", "gnuplot exited with status 3 and said nothing"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.script);
    WriteText(Path("bin/gnuplot"), std::string("#!/bin/sh\ncat >/dev/null\n") + c.script + "\n");
    ASSERT_EQ(chmod(Path("bin/gnuplot").c_str(), 0755), 0);
    Result r = Run("render " + Quoted(Path("in.wav")) + " --plot " + Quoted(Path("p.png")),
                   "PATH=" + Quoted(Path("bin") + ":/usr/bin:/bin"));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, std::string("tonevolt: gnuplot failed to draw the plot: ") + c.reason + "\n");
    EXPECT_EQ(Listing(m_dir), (std::set<std::string>{"in.wav", "bin"}));
  }
}

// A program with no module beside it or installed names both places.
TEST_F(CliTest, MissingModuleNamesBothPlaces) {
  ASSERT_EQ(mkdir(Path("bin").c_str(), 0777), 0);
  ASSERT_EQ(std::system(("cp '" TONEVOLT_PROGRAM "' " + Quoted(Path("bin/tonevolt"))).c_str()), 0);
  std::string command = Quoted(Path("bin/tonevolt")) + " describe 2>" + Quoted(m_io + "/stderr");
  int status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(ReadFile(m_io + "/stderr"),
            "tonevolt: cannot load module library: found neither " + m_dir +
                "/bin/Tonevolt.so nor " + m_dir +
                "/bin/../lib/tonevolt/Tonevolt.so; give --module PATH\n");
}

// demo --out into new folders, interrupted: the folders it made go, the
// one that was there stays.
TEST_F(CliTest, InterruptedDemoRemovesTheFoldersItMade) {
  pid_t pid = Start({"demo", "--out", Path("a/b/c")});
  ASSERT_GT(pid, 0);
  for (int wait = 0; wait < 2000 && !Exists(Path("a/b/c")); ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(Exists(Path("a/b/c"))) << "the folders did not appear";
  kill(pid, SIGTERM);
  Ended ended = Wait(pid);
  EXPECT_EQ(ended.code, 143) << ended.err;
  EXPECT_EQ(ended.err, "tonevolt: interrupted; nothing written\n");
  EXPECT_EQ(Listing(m_dir), std::set<std::string>{});
}

}  // namespace
