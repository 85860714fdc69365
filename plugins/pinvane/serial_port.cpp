#include "serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "wake_event.h"

namespace orvexa::pinvane {
namespace {

constexpr short kLineGone = POLLHUP | POLLERR | POLLNVAL;

int64_t NowNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int MillisecondsLeft(int64_t deadlineNs) {
  int64_t left = deadlineNs - NowNs();
  if (left <= 0) return 0;
  return static_cast<int>((left + 999999) / 1000000);
}

std::string Describe(const char* call, const std::string& path, int error) {
  return std::string(call) + " " + path + ": " + std::strerror(error);
}

}  // namespace

bool SerialPort::Open(const std::string& path) {
  Close();
  if (path.empty()) {
    lastError_ = "open: no device for this port";
    return false;
  }
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    lastError_ = Describe("open", path, errno);
    return false;
  }
  if (!isatty(fd)) {
    lastError_ = "open " + path + ": not a serial device";
    close(fd);
    return false;
  }
  // No sharing: nobody else opens the line while the plug-in talks on it. Not every
  // driver supports it, and the link works without it.
  ioctl(fd, TIOCEXCL);
  fd_ = fd;
  lastError_.clear();
  return true;
}

void SerialPort::Configure() {
  termios line;
  if (tcgetattr(fd_, &line) != 0) return;
  cfsetispeed(&line, B9600);
  cfsetospeed(&line, B9600);
  line.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
  // CLOCAL: ignore the modem status lines. A board rarely drives carrier detect, and
  // without it a floating line would hang the port up (and the reopen resets the board).
  // Unplugging still hangs up.
  line.c_cflag |= CS8 | CREAD | CLOCAL;
  // The frames are binary: every translation, echo or flow-control byte the terminal
  // layer would apply by default corrupts or swallows values.
  line.c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
  line.c_oflag &= ~OPOST;
  line.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;
  tcsetattr(fd_, TCSANOW, &line);
}

void SerialPort::DiscardInput() {
  tcflush(fd_, TCIFLUSH);
}

SerialPort::Status SerialPort::Read(uint8_t* buffer, size_t capacity, const WakeEvent& stop,
                                    size_t* received) {
  *received = 0;
  pollfd entries[2] = {{stop.fd(), POLLIN, 0}, {fd_, POLLIN, 0}};
  int ready;
  do {
    ready = poll(entries, 2, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return Status::Failed;
  if (entries[0].revents != 0) return Status::Stopped;
  if (capacity != 0) {
    ssize_t count;
    do {
      count = read(fd_, buffer, capacity);
    } while (count < 0 && errno == EINTR);
    if (count > 0) {
      *received = static_cast<size_t>(count);
      return Status::Ok;
    }
    if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Status::Failed;
  }
  // Nothing to read. A hung-up tty keeps answering reads with 0 bytes, exactly like an
  // idle one; only poll tells them apart.
  if (entries[1].revents & kLineGone) return Status::Failed;
  return Status::Ok;
}

SerialPort::Status SerialPort::Write(const uint8_t* data, size_t size, const WakeEvent& stop,
                                     int timeoutMs) {
  int64_t deadline = NowNs() + static_cast<int64_t>(timeoutMs) * 1000000;
  size_t written = 0;
  while (written < size) {
    ssize_t count = write(fd_, data + written, size - written);
    if (count > 0) {
      written += static_cast<size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Status::Failed;
    int left = MillisecondsLeft(deadline);
    if (left == 0) return Status::Failed;  // time-out: a short write
    Status status = WaitWritable(stop, left);
    if (status != Status::Ok) return status;
  }
  return Drain(stop, deadline);
}

SerialPort::Status SerialPort::WaitWritable(const WakeEvent& stop, int timeoutMs) {
  pollfd entries[2] = {{stop.fd(), POLLIN, 0}, {fd_, POLLOUT, 0}};
  int ready;
  do {
    ready = poll(entries, 2, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return Status::Failed;
  if (entries[0].revents != 0) return Status::Stopped;
  if (entries[1].revents & kLineGone) return Status::Failed;
  return Status::Ok;  // writable, or the time slice ran out: the caller checks the deadline
}

SerialPort::Status SerialPort::Drain(const WakeEvent& stop, int64_t deadlineNs) {
  // tcdrain cannot be interrupted by the stop event, so wait for the output queue to
  // empty here first (one character takes about 1 ms at 9600 baud); tcdrain then only
  // waits for the last character to leave the transmitter.
  for (;;) {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
    int left = MillisecondsLeft(deadlineNs);
    if (left == 0) return Status::Failed;
    int slice = queued + 1;
    if (slice > left) slice = left;
    pollfd entries[2] = {{stop.fd(), POLLIN, 0}, {fd_, 0, 0}};
    int ready = poll(entries, 2, slice);
    if (ready < 0 && errno != EINTR) return Status::Failed;
    if (ready > 0 && entries[0].revents != 0) return Status::Stopped;
    if (ready > 0 && (entries[1].revents & kLineGone)) return Status::Failed;
  }
  while (tcdrain(fd_) != 0) {
    if (errno != EINTR) return Status::Failed;
  }
  return Status::Ok;
}

void SerialPort::Close() {
  // Give up the claim first: when another descriptor (a simulator, a test) keeps the tty
  // alive, the flag would outlive this one and refuse our own reopening.
  if (fd_ >= 0) {
    ioctl(fd_, TIOCNXCL);
    close(fd_);
  }
  fd_ = -1;
}

}  // namespace orvexa::pinvane
