#include "reply_holders.h"

#include "platform/tcp_socket.h"

namespace orvexa::interference {

int ReplyHolders::Open(int count, const std::function<bool()>& keepGoing) {
  while (static_cast<int>(clients_.size()) < count && keepGoing()) {
    try {
      auto client = ConnectObserver(c_, client::Transport::kTcp, 30000);
      SendLargestExperimentRead(*client, c_);
      clients_.push_back(std::move(client));
    } catch (const client::ClientError&) {
      break;
    }
  }
  return static_cast<int>(clients_.size());
}

int ReplyHolders::WaitAnswered(int timeoutMs, const std::function<bool()>& keepGoing) {
  const int64_t deadline = NowMs() + timeoutMs;
  int answered = 0;
  for (const auto& client : clients_) {
    while (!WaitReadable(client->socket(), 50)) {
      if (NowMs() > deadline || !keepGoing()) return answered;
    }
    ++answered;
  }
  return answered;
}

}  // namespace orvexa::interference
