// Nothing is left behind by an interrupted run: temporary files and folders
// made for outputs are registered while they are the run's, and SIGINT,
// SIGTERM or SIGHUP stops the child process (gnuplot), removes them (the
// folders only if empty), says "interrupted; nothing written" and ends the
// program with 128 + the signal's number. What already went to a device or
// pipe stays there, and the message says so.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

namespace tonevolt {

void InstallInterruptHandlers();

// Registers a temporary file for removal on interruption; answers its slot,
// or -1 when every slot is taken (the caller then refuses to create it).
int RegisterTemporary(const std::string& path);
void ForgetTemporary(int slot);

// The same for a folder the run made; folders go after the files, the last
// registered first.
int RegisterFolder(const std::string& path);
void ForgetFolder(int slot);

// An output is being written through to a device or pipe.
void NoteWrittenThrough();

// The child process to stop before removing files; 0 for none.
void SetChildProcess(pid_t pid);

// Defers interruptions while it lives, for steps that must not be split.
class InterruptionsDeferred {
 public:
  InterruptionsDeferred();
  ~InterruptionsDeferred();
  InterruptionsDeferred(const InterruptionsDeferred&) = delete;
  InterruptionsDeferred& operator=(const InterruptionsDeferred&) = delete;

 private:
  sigset_t m_previous;
};

// Holds interruptions off for the rest of the run: called before outputs
// are renamed into place, after which the run completes normally.
void HoldInterruptions();

}  // namespace tonevolt
