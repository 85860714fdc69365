#include "frame_reader.h"

#include "serial_port.h"

namespace orvexa::pinvane {

FrameReader::Result FrameReader::Next(SerialPort& port, const WakeEvent& stop, Frame* frame) {
  if (scanner_.FreeSpace() != 0) {
    size_t received = 0;
    if (port.Read(scanner_.Space(), scanner_.FreeSpace(), stop, &received) !=
        SerialPort::Status::Ok) {
      return Result::Error;
    }
    scanner_.Commit(received);
  }
  return scanner_.Next(frame) ? Result::Frame : Result::NoFrame;
}

}  // namespace orvexa::pinvane
