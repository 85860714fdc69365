#include "reader_thread.h"

#include <pthread.h>
#include <sched.h>

#include <memory>
#include <system_error>

#include "channel_state.h"
#include "frame_reader.h"
#include "serial_port.h"
#include "user_interface.h"

namespace orvexa::pinvane {
namespace {

// The lowest real-time priority: above every normal thread, below the server's
// time-critical sampling thread. Refused without the privilege, which is fine.
void RaisePriority() {
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

void LowerPriority() {
  sched_param param{};
  param.sched_priority = 0;
  pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
}

}  // namespace

bool ReaderThread::Start(const std::string& devicePath) {
  Stop();
  if (!Valid()) return false;
  stop_.Reset();
  try {
    thread_ = std::thread(&ReaderThread::Run, this, devicePath);
    // Named for the operator (top -H, ps -L) before anyone can look for it.
    pthread_setname_np(thread_.native_handle(), kThreadName);
  } catch (const std::system_error&) {
    UserInterface::Debug("cannot start the reader thread");
    return false;
  }
  return true;
}

void ReaderThread::Stop() {
  if (!thread_.joinable()) return;
  stop_.Signal();
  thread_.join();
}

void ReaderThread::Run(std::string devicePath) {
  // Heap, not stack: the receive buffer is 1000 bytes and the thread has the default
  // stack, but a plug-in should not assume how large that is.
  auto reader = std::make_unique<FrameReader>();
  while (!stop_.IsSignalled()) {
    SerialPort port;
    if (!port.Open(devicePath)) {
      UserInterface::Debug(port.LastError());
      UserInterface::ShowMessage("Unable to open port", "Error opening port");
      stop_.Wait(kRetryOpenMs);
      continue;
    }
    port.Configure();
    RaisePriority();
    port.DiscardInput();
    reader->Clear();
    Cycle(port, *reader);
    LowerPriority();
    port.Close();
  }
}

void ReaderThread::Cycle(SerialPort& port, FrameReader& reader) {
  while (!stop_.Wait(kCycleMs)) {
    if (!Receive(port, reader)) return;
    if (!SendOutputs(port)) return;
  }
}

bool ReaderThread::Receive(SerialPort& port, FrameReader& reader) {
  for (int frames = 0; frames < kMaxFramesPerCycle; ++frames) {
    Frame frame;
    switch (reader.Next(port, stop_, &frame)) {
      case FrameReader::Result::Error:
        return false;
      case FrameReader::Result::NoFrame:
        return true;
      case FrameReader::Result::Frame:
        // The board has one input; frames for other channels are dropped.
        if (frame.channel == 0) channels_.StoreInput(frame.value);
        break;
    }
  }
  return true;  // the rest waits in the driver for the next cycle
}

bool ReaderThread::SendOutputs(SerialPort& port) {
  for (int index = 0; index < ChannelState::kOutputCount; ++index) {
    uint16_t value;
    if (!channels_.TakeOutput(index, &value)) continue;
    uint8_t frame[kFrameSize];
    EncodeFrame(static_cast<uint8_t>(index), value, frame);
    if (port.Write(frame, kFrameSize, stop_, kWriteTimeoutMs) != SerialPort::Status::Ok) {
      return false;
    }
  }
  return true;
}

}  // namespace orvexa::pinvane
