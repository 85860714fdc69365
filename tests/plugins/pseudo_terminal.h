// The board's side of a pseudo-terminal for the Pinvane tests: the test holds the master,
// the plug-in opens the slave path. Frames the plug-in sends are decoded with the
// plug-in's own scanner; every wait has a deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "frame_scanner.h"

namespace orvexa::test {

class PseudoTerminal {
 public:
  PseudoTerminal();  // opens a master; check Valid()
  ~PseudoTerminal() { Close(); }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool Valid() const { return master_ >= 0; }
  const std::string& SlavePath() const { return slavePath_; }
  // The master side; line settings read or set on it are the slave's.
  int fd() const { return master_; }
  // False when the bytes could not all be written within 2 s (nobody reads the line).
  bool Send(const std::vector<uint8_t>& bytes) const;
  bool SendFrame(uint8_t channel, uint16_t value) const;
  // The next frame from the plug-in, or false at the deadline.
  bool ReadFrame(pinvane::Frame* frame,
                 std::chrono::milliseconds deadline = std::chrono::seconds(5));
  // Reads frames until one satisfies (channel, value); false at the deadline.
  bool WaitForFrame(uint8_t channel, uint16_t value,
                    std::chrono::milliseconds deadline = std::chrono::seconds(5));
  // Reads and forgets whatever frames arrive until none came for `quiet`.
  void DrainUntilQuiet(std::chrono::milliseconds quiet);
  void Close();  // the board goes away: the plug-in's side sees a hang-up

 private:
  int master_ = -1;
  std::string slavePath_;
  pinvane::FrameScanner scanner_;
};

// Waits until `condition` holds, checking every millisecond; false at the deadline.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
  auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    struct timespec pause {
      0, 1000000
    };
    nanosleep(&pause, nullptr);
  }
  return true;
}

}  // namespace orvexa::test
