#include "lab_stand_in.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>

namespace orvexa::bench {
namespace {

constexpr uint32_t kReplyCap = 131072;

// Blocking reads and writes of big-endian items; false once the peer is gone.
class Wire {
 public:
  explicit Wire(SocketHandle socket) : socket_(socket) {}
  bool Read(void* data, size_t size) {
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
      int error = 0;
      long got = ReceiveSome(socket_, p, size, &error);
      if (got <= 0) return false;
      p += got;
      size -= static_cast<size_t>(got);
    }
    return true;
  }
  bool U8(uint8_t* v) { return Read(v, 1); }
  bool U16(uint16_t* v) {
    uint8_t b[2];
    if (!Read(b, 2)) return false;
    *v = static_cast<uint16_t>(b[0] << 8 | b[1]);
    return true;
  }
  bool U32(uint32_t* v) {
    uint8_t b[4];
    if (!Read(b, 4)) return false;
    *v = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
    return true;
  }
  bool Skip(size_t n) {
    std::string buffer(n, '\0');
    return Read(buffer.data(), n);
  }
  void PutU8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void PutU16(uint16_t v) { PutU8(static_cast<uint8_t>(v >> 8)), PutU8(static_cast<uint8_t>(v)); }
  void PutU32(uint32_t v) {
    PutU16(static_cast<uint16_t>(v >> 16)), PutU16(static_cast<uint16_t>(v));
  }
  void PutString(const std::string& s) {
    PutU16(static_cast<uint16_t>(s.size()));
    out_ += s;
  }
  bool Flush() {
    size_t sent = 0;
    while (sent < out_.size()) {
      int error = 0;
      long n = SendSome(socket_, out_.data() + sent, out_.size() - sent, &error);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    out_.clear();
    return true;
  }

 private:
  SocketHandle socket_;
  std::string out_;
};

}  // namespace

LabStandIn::LabStandIn(int channels, uint32_t firstTime)
    : channels_(channels), firstTime_(firstTime) {
  ListenResult listening = OpenListeningSocket(0, 16, "127.0.0.1");
  listener_ = listening.socket;
  port_ = listening.boundPort;
  acceptor_ = std::thread([this] { Accept(); });
}

LabStandIn::~LabStandIn() {
  stop_ = true;
  acceptor_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (SocketHandle s : connections_) ShutdownSocket(s);
    workers.swap(workers_);
  }
  for (auto& t : workers) t.join();
  for (SocketHandle s : connections_) CloseSocketDescriptor(s);
  CloseSocketDescriptor(listener_);
}

void LabStandIn::Accept() {
  while (!stop_.load()) {
    if (!WaitReadable(listener_, 100)) continue;
    SocketHandle s = AcceptConnection(listener_);
    if (s == kNoSocket) continue;
    SetNoDelay(s);
    std::lock_guard<std::mutex> hold(lock_);
    connections_.push_back(s);
    workers_.emplace_back([this, s] { Serve(s); });
  }
}

void LabStandIn::Serve(SocketHandle socket) {
  Wire wire(socket);
  uint16_t version = 0;
  uint8_t kind = 0;
  uint16_t length = 0;
  if (!wire.U16(&version) || !wire.U8(&kind)) return;
  if (kind == 2 && (!wire.Skip(4) || !wire.U8(&kind))) return;
  if (!wire.U16(&length) || !wire.Skip(length)) return;
  wire.PutU8(0);
  if (!wire.Flush()) return;
  for (;;) {
    uint8_t code = 0;
    if (!wire.U8(&code)) return;
    if (code == 2) {  // the channel list
      wire.PutU32(static_cast<uint32_t>(channels_));
      for (int c = 1; c <= channels_; ++c) {
        wire.PutU8(1);
        char id[24];
        std::snprintf(id, sizeof id, "Bench_%04d", c);
        wire.PutString(id);
        wire.PutString("");
      }
    } else if (code == 8) {  // history: every record from now - span on
      uint16_t channel = 0, mode = 0;
      uint32_t span = 0, limit = 0;
      if (!wire.U16(&channel) || !wire.U32(&span) || !wire.U16(&mode) || !wire.U32(&limit)) return;
      const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
      const uint32_t from = std::max<int64_t>(firstTime_, int64_t{now} - span);
      const uint32_t n = now >= from ? std::min(now - from + 1, kReplyCap) : 0;
      wire.PutU32(n);
      for (uint32_t i = 0; i < n; ++i) {
        wire.PutU32(from + i);
        float value = static_cast<float>(Raw(channel, from + i)) / 256.0f;
        uint32_t bits;
        std::memcpy(&bits, &value, 4);
        wire.PutU32(bits);
      }
    } else if (code == 21) {  // no experiments
      if (!wire.Skip(8)) return;
      wire.PutU32(0);
    } else if (code == 10) {  // the replies go out as they come anyway
      if (!wire.Skip(1)) return;
      continue;
    } else {
      return;
    }
    if (!wire.Flush()) return;
  }
}

}  // namespace orvexa::bench
