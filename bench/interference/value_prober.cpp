#include "value_prober.h"

#include <chrono>
#include <thread>

namespace orvexa::interference {

std::vector<double> ValueProber::Measure(double seconds, int pauseMs) {
  std::vector<double> latencies;
  const int64_t end = NowMs() + static_cast<int64_t>(seconds * 1000);
  while (NowMs() < end) {
    const int64_t begin = MonotonicNanoseconds();
    try {
      if (!client_) client_ = ConnectObserver(c_, client::Transport::kTcp, 30000);
      const int64_t sent = MonotonicNanoseconds();
      client_->ReadValue(c_.logged);
      latencies.push_back(static_cast<double>(MonotonicNanoseconds() - sent) / 1e6);
    } catch (const client::ClientError&) {
      ++errors_;
      latencies.push_back(static_cast<double>(MonotonicNanoseconds() - begin) / 1e6);
      client_.reset();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  }
  return latencies;
}

}  // namespace orvexa::interference
