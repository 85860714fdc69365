// Plays the Pinvane board on a pseudo-terminal, so the plug-in can be tried without
// hardware: the plug-in opens the slave side, the simulator sits on the master side,
// decodes the output frames it receives and sends input frames for channel 0, either
// following Output0 or as a ramp. Single-threaded; Run returns when *stop becomes true.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>

#include "frame_scanner.h"

namespace orvexa::pinvane {

class BoardSimulator {
 public:
  enum class Mode { Follow, Ramp };
  struct Options {
    Mode mode = Mode::Follow;
    int periodMs = 100;  // one input frame per period
    int rampStep = 1;
    bool verbose = true;  // print each change of an output on standard output
  };

  explicit BoardSimulator(Options options) : options_(options) {}
  ~BoardSimulator();
  BoardSimulator(const BoardSimulator&) = delete;
  BoardSimulator& operator=(const BoardSimulator&) = delete;

  // Creates the pseudo-terminal; false with a message naming the failing call.
  bool Open(std::string* error);
  const std::string& SlavePath() const { return slavePath_; }
  void Run(const volatile std::sig_atomic_t* stop);

 private:
  void ReceiveOutputs();
  void SendInput();

  Options options_;
  int master_ = -1;
  int slave_ = -1;  // held open so the master never sees a hang-up between clients
  std::string slavePath_;
  FrameScanner scanner_;
  uint16_t outputs_[2] = {0, 0};
  bool seen_[2] = {false, false};
  uint16_t input_ = 0;
};

}  // namespace orvexa::pinvane
