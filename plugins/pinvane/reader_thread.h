// The plug-in's reader thread: keeps the serial link to the board open, stores the
// board's input frames and sends every output the server has set, once per 5 ms cycle.
// A lost link (read or write error, short write, hang-up) is closed and opened again at
// once; a port that cannot be opened is reported and retried every 10 s.
//
// Start and Stop are called only from the host's entry points (LDPInit, LDPConfig,
// LDPDone), never concurrently; the thread itself shares only the ChannelState (under
// its lock) and the stop event with them. Stop interrupts every wait of the thread.
#pragma once

#include <string>
#include <thread>

#include "wake_event.h"

namespace orvexa::pinvane {

class ChannelState;
class FrameReader;
class SerialPort;

class ReaderThread {
 public:
  // The reader's thread name, as the system shows it (at most 15 characters).
  static constexpr const char* kThreadName = "pinvane-reader";
  static constexpr int kCycleMs = 5;
  static constexpr int kRetryOpenMs = 10000;
  static constexpr int kWriteTimeoutMs = 10000;
  // Frames taken per cycle at most. A serial line at 9600 baud brings about one frame per
  // cycle; a device that sends faster than the reader reads (a USB board ignores the
  // baud rate) must not keep it receiving for ever while the outputs wait.
  static constexpr int kMaxFramesPerCycle = 200;

  explicit ReaderThread(ChannelState& channels) : channels_(channels) {}
  ~ReaderThread() { Stop(); }
  ReaderThread(const ReaderThread&) = delete;
  ReaderThread& operator=(const ReaderThread&) = delete;

  // False when the stop event could not be created; the instance is then unusable.
  bool Valid() const { return stop_.Valid(); }
  bool Running() const { return thread_.joinable(); }
  // Starts the thread for `devicePath` (read once, here). False when it could not start.
  bool Start(const std::string& devicePath);
  // Signals the stop event and waits for the thread to end. Nothing when none runs.
  void Stop();

 private:
  void Run(std::string devicePath);
  // One open link: cycles until an I/O error or a stop request.
  void Cycle(SerialPort& port, FrameReader& reader);
  bool Receive(SerialPort& port, FrameReader& reader);
  bool SendOutputs(SerialPort& port);

  ChannelState& channels_;
  WakeEvent stop_;
  std::thread thread_;
};

}  // namespace orvexa::pinvane
