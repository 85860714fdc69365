// A manual-reset event that poll() can wait on: the plug-in's stop event. Signal() makes
// it readable until Reset(); the reader thread waits on its descriptor together with the
// tty, so a stop request interrupts any wait at once. Built on an eventfd. Signal and
// IsSignalled may be called from any thread; Reset only while no thread waits on it.
#pragma once

namespace orvexa::pinvane {

class WakeEvent {
 public:
  WakeEvent();  // non-signalled; Valid() is false when no descriptor could be created
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  bool Valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void Signal();
  void Reset();
  bool IsSignalled() const;
  // Waits up to `milliseconds` (restarted after signals); true when signalled.
  bool Wait(int milliseconds) const;

 private:
  int fd_ = -1;
};

}  // namespace orvexa::pinvane
