#include "fast_stream_reader.h"

#include <algorithm>
#include <chrono>
#include <string>

namespace orvexa::interference {
namespace {

uint32_t U32At(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(b[at + i]);
  return v;
}

}  // namespace

FastStreamReader::FastStreamReader(const BenchContext& context, uint16_t channel, int frequencyHz)
    : c_(context), channel_(channel), frequencyHz_(frequencyHz) {}

FastStreamReader::~FastStreamReader() {
  Stop();
}

void FastStreamReader::Start() {
  thread_ = std::thread([this] { Run(); });
}

void FastStreamReader::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void FastStreamReader::Run() {
  while (!stop_) {
    try {
      auto client = ConnectObserver(c_, client::Transport::kTcp, 30000);
      while (!stop_) {
        const int64_t start = NowMs();
        Poll(*client);
        answeredPollStartMs_ = start;
        std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                      std::chrono::milliseconds(50));
      }
    } catch (const client::ClientError&) {
      ++errors_;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
}

void FastStreamReader::Poll(client::ProtocolClient& client) {
  // Bit 0: everything from the cursor on (the first time: the newest sample only);
  // bit 1: millisecond times instead of sequence numbers. The trailing newest sequence
  // number tells whether the buffer overran since the previous poll.
  client.U8(12).U16(channel_).U8(haveCursor_ ? 3 : 2).U32(haveCursor_ ? cursor_ : 1).U16(0);
  client.Send();
  const uint32_t n = client.ReadU32();
  if (n == 0) return;
  const std::string body = client.ReadBytes(size_t{n} * 8);
  const uint32_t newest = client.ReadU32();
  const int64_t after = NowMs();
  if (haveCursor_) {
    const uint64_t due = uint64_t{static_cast<uint32_t>(newest - cursor_)} + 1;
    if (n < due) lost_ += due - n;
  }
  haveCursor_ = true;
  cursor_ = newest + 1;
  std::lock_guard<std::mutex> hold(lock_);
  for (uint32_t i = n; i-- > 0;) {  // the reply is newest first
    const uint32_t tick = U32At(body, 8 * size_t{i});
    times_.push_back(after - static_cast<uint32_t>(static_cast<uint32_t>(after) - tick));
  }
}

bool FastStreamReader::WaitPast(int64_t ms, int timeoutMs) const {
  const int64_t deadline = NowMs() + timeoutMs;
  while (answeredPollStartMs_ <= ms) {
    if (NowMs() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

FastStreamReader::Window FastStreamReader::Measure(int64_t fromMs, int64_t toMs) const {
  Window w;
  w.expected = static_cast<double>(toMs - fromMs) * frequencyHz_ / 1000.0;
  std::vector<int64_t> steps;
  std::lock_guard<std::mutex> hold(lock_);
  auto first = std::lower_bound(times_.begin(), times_.end(), fromMs);
  auto end = std::lower_bound(times_.begin(), times_.end(), toMs);
  w.samples = static_cast<uint64_t>(end - first);
  // Stretches of the window without a sample: from its start to the first sample in it,
  // between samples, and from the last one to its end (a stall that began before the
  // window or lasted past it counts only for its part inside).
  int64_t previous = fromMs;
  for (auto it = first; it != end; ++it) {
    if (it != first) steps.push_back(*it - previous);
    w.largestGapMs = std::max(w.largestGapMs, static_cast<double>(*it - previous));
    previous = *it;
  }
  w.largestGapMs = std::max(w.largestGapMs, static_cast<double>(toMs - previous));
  const double periodMs = 1000.0 / frequencyHz_;
  w.largestGapPeriods = w.largestGapMs / periodMs;
  w.ratePercent = w.expected > 0 ? 100.0 * static_cast<double>(w.samples) / w.expected : 0;
  if (!steps.empty()) {
    std::sort(steps.begin(), steps.end());
    w.stepP99Ms = static_cast<double>(steps[static_cast<size_t>(0.99 * (steps.size() - 1))]);
  }
  return w;
}

}  // namespace orvexa::interference
