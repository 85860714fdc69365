// Pulls the board's frames off the open serial port: each call takes whatever bytes have
// arrived (without waiting) into the scanner and returns the first complete frame.
// Used by the reader thread only.
#pragma once

#include "frame_scanner.h"

namespace orvexa::pinvane {

class SerialPort;
class WakeEvent;

class FrameReader {
 public:
  enum class Result { Frame, NoFrame, Error };

  // Error when the read fails, the line hung up or `stop` is signalled.
  Result Next(SerialPort& port, const WakeEvent& stop, Frame* frame);
  // Empties the receive buffer (after the port is opened again).
  void Clear() { scanner_.Clear(); }

 private:
  FrameScanner scanner_;
};

}  // namespace orvexa::pinvane
