#include "files/Cleanup.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace tonevolt {

namespace {

// Fixed storage: the handler may only touch what needs no allocation.
constexpr int kSlots = 32;
constexpr size_t kPathCapacity = 4096;
char g_paths[kSlots][kPathCapacity];
volatile sig_atomic_t g_used[kSlots];
char g_folders[kSlots][kPathCapacity];
volatile sig_atomic_t g_folder_used[kSlots];
volatile sig_atomic_t g_written_through = 0;
volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_stderr_is_terminal = 0;  // a progress bar may be on its line

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnInterrupt(int signal_number) {
  pid_t child = static_cast<pid_t>(g_child);
  if (child > 0) {
    // Stopped and reaped first, so that it cannot create a file we remove.
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  for (int i = 0; i < kSlots; ++i)
    if (g_used[i]) unlink(g_paths[i]);
  for (int i = kSlots - 1; i >= 0; --i)
    if (g_folder_used[i]) rmdir(g_folders[i]);
  if (g_stderr_is_terminal) {
    const char clear_line[] = "\r\033[K";
    ssize_t ignored = write(STDERR_FILENO, clear_line, sizeof clear_line - 1);
    (void)ignored;
  }
  const char message[] = "tonevolt: interrupted; nothing written\n";
  const char partly[] =
      "tonevolt: interrupted; nothing written but what already went to a device or pipe\n";
  ssize_t ignored = g_written_through ? write(STDERR_FILENO, partly, sizeof partly - 1)
                                      : write(STDERR_FILENO, message, sizeof message - 1);
  (void)ignored;
  _exit(128 + signal_number);
}

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kSignals) sigaddset(&set, s);
  return set;
}

}  // namespace

void InstallInterruptHandlers() {
  g_stderr_is_terminal = isatty(STDERR_FILENO);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  action.sa_mask = InterruptSignals();
  for (int s : kSignals) sigaction(s, &action, nullptr);
  // A reader or a child that goes away shows as a failed write, not a silent death.
  signal(SIGPIPE, SIG_IGN);
}

namespace {

// Slots fill from the first, so that a later registration has a higher slot.
int Register(const std::string& path, char (&paths)[kSlots][kPathCapacity],
             volatile sig_atomic_t (&used)[kSlots]) {
  if (path.size() >= kPathCapacity) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (used[i]) continue;
    std::memcpy(paths[i], path.c_str(), path.size() + 1);
    used[i] = 1;  // only once the path is complete
    return i;
  }
  return -1;
}

}  // namespace

int RegisterTemporary(const std::string& path) { return Register(path, g_paths, g_used); }

void ForgetTemporary(int slot) {
  if (slot >= 0 && slot < kSlots) g_used[slot] = 0;
}

int RegisterFolder(const std::string& path) { return Register(path, g_folders, g_folder_used); }

void ForgetFolder(int slot) {
  if (slot >= 0 && slot < kSlots) g_folder_used[slot] = 0;
}

void NoteWrittenThrough() { g_written_through = 1; }

void SetChildProcess(pid_t pid) { g_child = pid; }

InterruptionsDeferred::InterruptionsDeferred() {
  sigset_t set = InterruptSignals();
  sigprocmask(SIG_BLOCK, &set, &m_previous);
}

InterruptionsDeferred::~InterruptionsDeferred() { sigprocmask(SIG_SETMASK, &m_previous, nullptr); }

void HoldInterruptions() {
  sigset_t set = InterruptSignals();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace tonevolt
