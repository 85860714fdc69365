#include "transport/listener.h"

#include "platform/clock.h"

namespace orvexa {

Listener::Listener(ConnectionTracker& tracker, ReadAdmission readAdmission,
                   const std::atomic<bool>& serverRunning, StartWorker startWorker)
    : tracker_(tracker),
      readAdmission_(std::move(readAdmission)),
      serverRunning_(serverRunning),
      startWorker_(std::move(startWorker)) {}

Listener::~Listener() {
  Close();
}

bool Listener::Open(int port, std::string* failureMessage, std::string* detail,
                    const std::string& address) {
  ListenResult result = OpenListeningSocket(port, MaxListenBacklog(), address);
  switch (result.failedStep) {
    case ListenStep::kNone:
      socket_ = result.socket;
      port_ = result.boundPort;
      spare_ = OpenSpareDescriptor();
      return true;
    case ListenStep::kCreate:
      *failureMessage = "Socket creation failed";
      break;
    case ListenStep::kInit:
      *failureMessage = "Socket init failed";
      break;
    case ListenStep::kListen:
      *failureMessage = "Socket listen failed";
      break;
  }
  if (detail) *detail = result.message;
  return false;
}

void Listener::Close() {
  CloseSocketDescriptor(socket_);
  socket_ = kNoSocket;
  CloseSpareDescriptor(spare_);
  spare_ = -1;
}

void Listener::OnAcceptReady() {
  while (AcceptOne()) {
  }
}

bool Listener::AcceptOne() {
  int error = 0;
  SocketHandle accepted = AcceptConnection(socket_, &error);
  if (accepted == kNoSocket) {
    // Out of descriptors, the pending connection would stay pending and the main loop
    // would be told about it again at once, forever. Refuse it with the spare one.
    if (IsOutOfDescriptors(error) && spare_ >= 0) {
      CloseSpareDescriptor(spare_);
      CloseSocketDescriptor(AcceptConnection(socket_));
      spare_ = OpenSpareDescriptor();
      return spare_ >= 0;
    }
    return false;
  }
  const Admission admission = readAdmission_();
  if (!admission.enabled || !serverRunning_.load()) {
    CloseSocketDescriptor(accepted);
    return true;
  }
  // Behind the local proxy this is 127.0.0.1; the worker counts the connection under
  // the proxy's X-Real-IP once the handshake is read.
  HostAddress::V4Bytes peerBytes{};
  PeerAddress(accepted, peerBytes.data());
  const HostAddress peer = HostAddress::FromV4(peerBytes);
  // An address that keeps presenting bad tokens is closed at once; the local proxy's
  // clients are looked at under their own address once the upgrade names it.
  if (failures_ && peer != HostAddress(127, 0, 0, 1) &&
      failures_->IsBlocked(peer, MonotonicNanoseconds() / 1000000)) {
    CloseSocketDescriptor(accepted);
    return true;
  }
  // The count test and the count-in are one step under the admission lock.
  std::optional<uint32_t> serial = tracker_.Admit(admission.maxClients, accepted, peer);
  if (!serial) {
    CloseSocketDescriptor(accepted);
    return true;
  }
  SetNoDelay(accepted);
  if (!startWorker_(accepted, *serial)) {
    tracker_.Untrack(accepted);
    tracker_.Leave();
    CloseSocketDescriptor(accepted);
  }
  return true;
}

}  // namespace orvexa
