// An eventfd that wakes a poll() loop: any thread calls Signal (never blocks), the loop
// watches fd() for input and calls Drain. Used by the main loop for posted work and quit
// requests, and by anything else that must interrupt a poll().
//
// Signal is safe from any thread and from a signal handler; Drain belongs to the thread
// that polls.
#pragma once

#include "platform/io_result.h"

namespace orvexa {

class WakeFd {
 public:
  WakeFd();
  ~WakeFd();
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;

  bool ok() const { return fd_ >= 0; }
  const IoResult& error() const { return error_; }
  int fd() const { return fd_; }
  void Signal();
  void Drain();

 private:
  int fd_ = -1;
  IoResult error_;
};

}  // namespace orvexa
