// SIGINT and SIGTERM as a readable descriptor, so the headless main loop ends its run
// (the orderly shutdown) when the operator presses Ctrl-C or a service manager stops it.
//
// BlockTerminationSignals must run on the main thread before any other thread starts:
// threads inherit the blocked mask, so the signals stay pending until the loop reads
// them from the signalfd instead of killing the process. It also ignores SIGPIPE, so a
// peer that closes its socket ends one connection with an error, not the server.
#pragma once

#include "platform/io_result.h"

namespace orvexa {

IoResult BlockTerminationSignals();
// Undoes the blocking (tests that run the loop in-process, or code about to exec).
void UnblockTerminationSignals();

class TerminationSignalFd {
 public:
  TerminationSignalFd();  // opens a signalfd for SIGINT and SIGTERM
  ~TerminationSignalFd();
  TerminationSignalFd(const TerminationSignalFd&) = delete;
  TerminationSignalFd& operator=(const TerminationSignalFd&) = delete;

  bool ok() const { return fd_ >= 0; }
  const IoResult& error() const { return error_; }
  int fd() const { return fd_; }
  // Reads one pending signal; its number, or 0 when none was pending.
  int Read();

 private:
  int fd_ = -1;
  IoResult error_;
};

}  // namespace orvexa
