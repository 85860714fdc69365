// The values the host's channel functions and the reader thread share: the board's last
// input, the outputs the server set and which of them were ever set. Channel functions
// run on host threads (with the host's ServerLock held), the reader thread beside them;
// the one mutex here guards all fields and is never held while waiting for I/O.
#pragma once

#include <cstdint>
#include <mutex>

namespace orvexa::pinvane {

class ChannelState {
 public:
  static constexpr int kOutputCount = 2;

  // Channel reads: the stored u16 as a float; a parameter out of range reads 0.0.
  float ReadInput(int param);
  float ReadOutput(int param);
  // Channel write: rounded and clamped to 0..65534; marks the output as set. A parameter
  // out of range and a value that is not a number are ignored.
  void WriteOutput(float value, int param);

  // Reader thread side.
  void StoreInput(uint16_t value);
  // The current value of output `index` when it was ever set.
  bool TakeOutput(int index, uint16_t* value);

 private:
  std::mutex lock_;
  uint16_t input_ = 0;
  uint16_t outputs_[kOutputCount] = {0, 0};
  bool set_[kOutputCount] = {false, false};
};

}  // namespace orvexa::pinvane
