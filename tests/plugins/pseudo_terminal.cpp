#include "pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

namespace orvexa::test {

PseudoTerminal::PseudoTerminal() {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) return;
  const char* name = nullptr;
  if (grantpt(master) != 0 || unlockpt(master) != 0 || (name = ptsname(master)) == nullptr) {
    close(master);
    return;
  }
  master_ = master;
  slavePath_ = name;
}

bool PseudoTerminal::Send(const std::vector<uint8_t>& bytes) const {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  size_t done = 0;
  while (done < bytes.size()) {
    // A line nobody reads fills up; the board then gives up rather than wait for ever.
    if (std::chrono::steady_clock::now() >= end) return false;
    ssize_t count = write(master_, bytes.data() + done, bytes.size() - done);
    if (count > 0) {
      done += static_cast<size_t>(count);
    } else if (count < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else {
      pollfd entry{master_, POLLOUT, 0};
      poll(&entry, 1, 100);
    }
  }
  return true;
}

bool PseudoTerminal::SendFrame(uint8_t channel, uint16_t value) const {
  uint8_t frame[pinvane::kFrameSize];
  pinvane::EncodeFrame(channel, value, frame);
  return Send(std::vector<uint8_t>(frame, frame + pinvane::kFrameSize));
}

bool PseudoTerminal::ReadFrame(pinvane::Frame* frame, std::chrono::milliseconds deadline) {
  auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (scanner_.Next(frame)) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd entry{master_, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
    if (!(entry.revents & POLLIN)) {
      // No slave side open at the moment (the plug-in is between two opens).
      struct timespec pause {
        0, 1000000
      };
      nanosleep(&pause, nullptr);
      continue;
    }
    ssize_t count = read(master_, scanner_.Space(), scanner_.FreeSpace());
    if (count > 0) scanner_.Commit(static_cast<size_t>(count));
  }
}

bool PseudoTerminal::WaitForFrame(uint8_t channel, uint16_t value,
                                  std::chrono::milliseconds deadline) {
  auto end = std::chrono::steady_clock::now() + deadline;
  pinvane::Frame frame;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !ReadFrame(&frame, left)) return false;
    if (frame.channel == channel && frame.value == value) return true;
  }
}

void PseudoTerminal::DrainUntilQuiet(std::chrono::milliseconds quiet) {
  pinvane::Frame frame;
  while (ReadFrame(&frame, quiet)) {
  }
}

void PseudoTerminal::Close() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

}  // namespace orvexa::test
