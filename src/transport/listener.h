// The listening socket of the server (one IPv4 address or all of them, the longest accept queue the
// system grants, so that a burst of connects is not dropped by a short queue) and the
// admission of new connections: accepted on the main thread, every pending one, when
// the main loop reports the socket readable; refused without a word when Enable is off, the server
// is not running yet, MaxClientCount connections are counted in or the peer's address already has
// MaxOpeningPerAddress connections in their opening; otherwise counted in (one step
// under the tracker's admission lock) and handed to a new worker thread.
//
// Open and OnAcceptReady run on the main thread. The admission settings (Enable and
// MaxClientCount, which the operator may change at any time) are read through a
// callback on the main thread, where they are written; the accept path takes no lock but
// the tracker's, so it never waits for a burst that holds the devices.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/tcp_socket.h"
#include "transport/connection_socket.h"
#include "transport/connection_tracker.h"
#include "transport/hello_failure_bound.h"

namespace orvexa {

class Listener {
 public:
  // What admission reads of the server settings for each new connection.
  struct Admission {
    bool enabled = true;      // Enable
    uint32_t maxClients = 0;  // MaxClientCount (negative counts as 0)
  };
  // Called on the main thread.
  using ReadAdmission = std::function<Admission()>;

  // Starts the worker of an admitted connection (socket handed over, serial number);
  // false when no thread could be started (the listener then refuses the connection).
  using StartWorker = std::function<bool(SocketHandle socket, uint32_t serial)>;

  Listener(ConnectionTracker& tracker, ReadAdmission readAdmission,
           const std::atomic<bool>& serverRunning, StartWorker startWorker);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Opens the listening socket on `port` (0: a free port) of `address` (empty or
  // "0.0.0.0": every interface). On failure the message to show: "Socket creation
  // failed", "Socket init failed" or "Socket listen failed".
  bool Open(int port, std::string* failureMessage, std::string* detail = nullptr,
            const std::string& address = "");

  // Refused openings per address: a blocked peer is closed at accept (null: no bound).
  void SetFailureBound(HelloFailureBound* bound) { failures_ = bound; }
  void Close();

  SocketHandle socket() const { return socket_; }
  int port() const { return port_; }

  // One accept notification: accepts every pending connection (until the queue is
  // empty) and admits or refuses each.
  void OnAcceptReady();

 private:
  // Accepts one pending connection and admits or refuses it; false when none was left
  // (or accepting failed: the main loop reports the socket again if one is pending).
  bool AcceptOne();

  ConnectionTracker& tracker_;
  ReadAdmission readAdmission_;
  const std::atomic<bool>& serverRunning_;
  StartWorker startWorker_;
  HelloFailureBound* failures_ = nullptr;
  SocketHandle socket_ = kNoSocket;
  int port_ = 0;
  // Kept for the moment the process runs out of descriptors (see OnAcceptReady).
  int spare_ = -1;
};

}  // namespace orvexa
