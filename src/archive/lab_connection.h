// The archiver's connection to one lab server: an observer client of the ordinary
// request protocol that lists the channels and reads their logged history from a start
// time. Replies are checked before they are believed (a count larger than a reply can
// hold is garbage), so a confused server costs a reconnect, never a wrong archive.
// Used by LabFollower on that lab's own thread; failures throw client::ClientError.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/experiment_record.h"
#include "archive/log_record.h"
#include "client/protocol_client.h"

namespace orvexa::archive {

// Where a lab server listens: "host:port", "tcp://host:port" or "ws://host:port".
struct ServerAddress {
  std::string host;
  int port = 0;
  client::Transport transport = client::Transport::kTcp;
};
// False (and a message in `error`) when `url` is none of the forms above.
bool ParseServerAddress(const std::string& url, ServerAddress* address, std::string* error);

struct LabChannel {
  uint16_t number = 0;  // position in the server's channel list plus 1
  std::string id;
};

class LabConnection {
 public:
  // The most records one history reply carries; the server sends the oldest ones.
  static constexpr uint32_t kReplyCap = 131072;
  // The longest span a request can name (it is taken as signed).
  static constexpr uint32_t kWholeLog = 0x7FFFFFFF;

  // Connects and opens as an observer with `credential` (empty when the server asks
  // for none); throws when the server refuses.
  void Open(const ServerAddress& address, const std::string& credential);
  void Close() { client_.Close(); }
  // Takes over a connected socket past its opening, with no patience: the end of what
  // is there is a time-out (the fuzz target feeds replies this way).
  void Attach(SocketHandle connected, client::Transport transport) {
    client_.Attach(connected, transport);
    client_.set_timeout_ms(0);
  }

  // The readable channels, in the server's order.
  std::vector<LabChannel> ReadableChannels();
  // Every logged record of the channel from the one after its newest record older than
  // the server's now - `span` on, oldest first, at most kReplyCap of them (the oldest).
  // The span request is the one that keeps the records of a clock step back; kWholeLog
  // reaches the oldest record.
  LogRecords HistoryBack(uint16_t channel, uint32_t span);
  // Every experiment the server holds, whoever started it, in ascending id order.
  std::vector<LabExperiment> ListAllExperiments();
  // The channels `numbers` of experiment `id`: with `withSamples`, every sample each
  // holds, else only how many. False when the server no longer holds the experiment.
  bool ReadExperiment(uint32_t id, const std::vector<uint16_t>& numbers, bool withSamples,
                      std::vector<ExperimentChannelSamples>* channels);

 private:
  client::ProtocolClient client_;
};

}  // namespace orvexa::archive
