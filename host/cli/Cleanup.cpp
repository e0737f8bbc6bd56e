#include "Cleanup.h"

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
  if (g_stderr_is_terminal) {
    const char clear_line[] = "\r\033[K";
    ssize_t ignored = write(STDERR_FILENO, clear_line, sizeof clear_line - 1);
    (void)ignored;
  }
  const char message[] = "tonevolt: interrupted; nothing written\n";
  ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
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

int RegisterTemporary(const std::string& path) {
  if (path.size() >= kPathCapacity) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (g_used[i]) continue;
    std::memcpy(g_paths[i], path.c_str(), path.size() + 1);
    g_used[i] = 1;  // only once the path is complete
    return i;
  }
  return -1;
}

void ForgetTemporary(int slot) {
  if (slot >= 0 && slot < kSlots) g_used[slot] = 0;
}

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
