#include "channel_state.h"

#include "frame_format.h"

namespace orvexa::pinvane {

float ChannelState::ReadInput(int param) {
  std::lock_guard<std::mutex> hold(lock_);
  return param == 0 ? static_cast<float>(input_) : 0.0f;
}

float ChannelState::ReadOutput(int param) {
  std::lock_guard<std::mutex> hold(lock_);
  if (param < 0 || param >= kOutputCount) return 0.0f;
  return static_cast<float>(outputs_[param]);
}

void ChannelState::WriteOutput(float value, int param) {
  if (param < 0 || param >= kOutputCount) return;
  uint16_t stored;
  if (!ToOutputValue(value, &stored)) return;
  std::lock_guard<std::mutex> hold(lock_);
  set_[param] = true;
  outputs_[param] = stored;
}

void ChannelState::StoreInput(uint16_t value) {
  std::lock_guard<std::mutex> hold(lock_);
  input_ = value;
}

bool ChannelState::TakeOutput(int index, uint16_t* value) {
  std::lock_guard<std::mutex> hold(lock_);
  if (index < 0 || index >= kOutputCount || !set_[index]) return false;
  *value = outputs_[index];
  return true;
}

}  // namespace orvexa::pinvane
