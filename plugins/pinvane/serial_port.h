// One open serial device (a tty) as the reader thread uses it: raw 9600 8N1, reads that
// return at once with whatever has arrived, writes and drains bounded by a deadline, and
// every wait made with poll() on the tty together with the stop event, so a stop request
// cancels pending I/O at once. Owned and used by the reader thread only; no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvexa::pinvane {

class WakeEvent;

class SerialPort {
 public:
  enum class Status { Ok, Stopped, Failed };

  SerialPort() = default;
  ~SerialPort() { Close(); }
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the device for reading and writing, not as controlling terminal, non-blocking,
  // and claims it exclusively. Refuses anything that is not a terminal device, so a
  // mistyped path never makes the plug-in write frames into an ordinary file.
  bool Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Why the last Open failed, naming the call and the path.
  const std::string& LastError() const { return lastError_; }

  // 9600 baud, 8 data bits, no parity, one stop bit, raw bytes (no echo, no line editing,
  // no CR/LF translation, no XON/XOFF: any of them would swallow or change values),
  // modem status lines ignored, reads return at once. Hardware flow control and the
  // hang-up on close stay as the driver had them. When the settings cannot be read the
  // device is used as it is.
  void Configure();
  // Discards whatever the driver has received and not yet delivered.
  void DiscardInput();

  // Takes what has arrived, up to `capacity` bytes, without waiting. Failed on a read
  // error or a hung-up line (the other side went away); Stopped when `stop` is signalled.
  Status Read(uint8_t* buffer, size_t capacity, const WakeEvent& stop, size_t* received);
  // Writes all `size` bytes and waits until they have left the port, within
  // `timeoutMs` in total. Failed on an error, a hang-up or the time-out (short write).
  Status Write(const uint8_t* data, size_t size, const WakeEvent& stop, int timeoutMs);

  void Close();

 private:
  Status WaitWritable(const WakeEvent& stop, int timeoutMs);
  Status Drain(const WakeEvent& stop, int64_t deadlineNs);

  int fd_ = -1;
  std::string lastError_;
};

}  // namespace orvexa::pinvane
