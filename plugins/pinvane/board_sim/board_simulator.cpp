#include "board_sim/board_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orvexa::pinvane {
namespace {

int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string Failure(const char* call) {
  return std::string(call) + ": " + std::strerror(errno);
}

}  // namespace

BoardSimulator::~BoardSimulator() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

bool BoardSimulator::Open(std::string* error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) {
    *error = Failure("posix_openpt");
    return false;
  }
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    *error = Failure("grantpt/unlockpt");
    return false;
  }
  const char* name = ptsname(master_);
  if (name == nullptr) {
    *error = Failure("ptsname");
    return false;
  }
  slavePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_ < 0) {
    *error = Failure(("open " + slavePath_).c_str());
    return false;
  }
  // Raw from the start, so nothing is echoed back before the plug-in configures the line.
  termios line;
  if (tcgetattr(slave_, &line) == 0) {
    cfmakeraw(&line);
    tcsetattr(slave_, TCSANOW, &line);
  }
  return true;
}

void BoardSimulator::Run(const volatile std::sig_atomic_t* stop) {
  int64_t nextSend = NowMs();
  while (!*stop) {
    int64_t wait = nextSend - NowMs();
    if (wait <= 0) {
      SendInput();
      nextSend += options_.periodMs;
      if (nextSend < NowMs()) nextSend = NowMs() + options_.periodMs;
      continue;
    }
    pollfd entry{master_, POLLIN, 0};
    int ready = poll(&entry, 1, static_cast<int>(wait));
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      if (entry.revents & POLLIN) {
        ReceiveOutputs();
      } else {
        // Nobody on the line (cannot happen while slave_ is open); do not spin.
        usleep(static_cast<useconds_t>(options_.periodMs) * 1000);
      }
    }
  }
}

void BoardSimulator::ReceiveOutputs() {
  ssize_t count = read(master_, scanner_.Space(), scanner_.FreeSpace());
  if (count <= 0) return;
  scanner_.Commit(static_cast<size_t>(count));
  Frame frame;
  while (scanner_.Next(&frame)) {
    if (frame.channel > 1) continue;  // the board has two outputs
    int index = frame.channel;
    if (!seen_[index] || outputs_[index] != frame.value) {
      seen_[index] = true;
      outputs_[index] = frame.value;
      if (options_.verbose) {
        std::printf("Output%d = %u\n", index, static_cast<unsigned>(frame.value));
        std::fflush(stdout);
      }
    }
  }
}

void BoardSimulator::SendInput() {
  if (options_.mode == Mode::Follow) {
    input_ = outputs_[0];
  } else {
    uint32_t next = static_cast<uint32_t>(input_) + static_cast<uint32_t>(options_.rampStep);
    input_ = static_cast<uint16_t>(next % (kMaxFrameValue + 1u));
  }
  uint8_t frame[kFrameSize];
  EncodeFrame(0, input_, frame);
  // Non-blocking: when nobody reads the line the frame is simply lost, as on a real wire.
  ssize_t written = write(master_, frame, kFrameSize);
  (void)written;
}

}  // namespace orvexa::pinvane
