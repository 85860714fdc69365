// A stand-in lab server for the archive benchmark's lag measure: it answers the opening
// and the requests the archiver sends (channel list, history, experiment list) for
// `channels` channels each logged once a second from `firstTime` on, generated as they
// are asked for. The real server keeps one 120 MB log file per logged channel, so 1000
// of them do not fit on the benchmark machine's disk; the archiver's side of the work
// (one history read and one archive transaction per channel and pass) is the same.
//
// Owned by the benchmark's main thread; one thread accepts, one thread serves each
// connection. The destructor stops and joins them.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/tcp_socket.h"

namespace orvexa::bench {

class LabStandIn {
 public:
  LabStandIn(int channels, uint32_t firstTime);
  ~LabStandIn();
  LabStandIn(const LabStandIn&) = delete;
  LabStandIn& operator=(const LabStandIn&) = delete;

  int port() const { return port_; }
  // The fixed-point value logged for `channel` (1-based) at `time`.
  static int32_t Raw(int channel, uint32_t time) {
    return static_cast<int32_t>((time * 7919u + static_cast<uint32_t>(channel) * 104729u) %
                                100003u) -
           50000;
  }

 private:
  void Accept();
  void Serve(SocketHandle socket);

  const int channels_;
  const uint32_t firstTime_;
  SocketHandle listener_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::mutex lock_;  // guards connections_ and workers_
  std::vector<SocketHandle> connections_;
  std::vector<std::thread> workers_;
};

}  // namespace orvexa::bench
