#include "reply_holders.h"

#include <sys/socket.h>

#include <chrono>
#include <thread>

namespace orvexa::interference {
namespace {

// What the first four bytes of a holder's reply say, looked at without taking them:
// 1 = the reply has begun (one result follows), 0 = the server closed the connection or
// answered something else, -1 = nothing yet.
int PeekReply(SocketHandle socket) {
  unsigned char head[4];
  const ssize_t n = ::recv(socket, head, sizeof head, MSG_PEEK | MSG_DONTWAIT);
  if (n == 0) return 0;
  if (n < 4) return -1;  // nothing, or not all four bytes yet
  const uint32_t results = uint32_t{head[0]} << 24 | head[1] << 16 | head[2] << 8 | head[3];
  return results == 1 ? 1 : 0;
}

}  // namespace

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
    int state;
    while ((state = PeekReply(client->socket())) < 0) {
      if (NowMs() > deadline || !keepGoing()) return answered;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (state == 1) ++answered;
  }
  return answered;
}

}  // namespace orvexa::interference
