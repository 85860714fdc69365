// The clients of the interference benchmark's memory test: each connects as an observer,
// asks for the largest ReadExperiment reply (about 4 M samples, 50 MB) and never reads
// it, so that the server holds whatever it keeps for a reply its client does not take.
// Used by main's thread only.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "bench_context.h"

namespace orvexa::interference {

class ReplyHolders {
 public:
  explicit ReplyHolders(const BenchContext& context) : c_(context) {}

  // Opens up to `count` holders one after the other, each sending its request; stops
  // early (returning how many are open) when `keepGoing` says so or a connection fails.
  int Open(int count, const std::function<bool()>& keepGoing);
  // Waits until the server has begun every holder's reply (its first bytes are there to
  // read); the number of holders whose reply began (a holder the server closed on does
  // not count), short when `timeoutMs` runs out or `keepGoing` says stop.
  int WaitAnswered(int timeoutMs, const std::function<bool()>& keepGoing);
  // Closes every holder with its reply unread.
  void CloseAll() { clients_.clear(); }

 private:
  const BenchContext& c_;
  std::vector<std::unique_ptr<client::ProtocolClient>> clients_;
};

}  // namespace orvexa::interference
