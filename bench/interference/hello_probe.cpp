#include "hello_probe.h"

#include <chrono>
#include <thread>

namespace orvexa::interference {

double HelloLatencyMs(const BenchContext& c, client::Transport transport, int timeoutMs) {
  const int64_t begin = MonotonicNanoseconds();
  try {
    auto client = ConnectObserver(c, transport, timeoutMs);
    return static_cast<double>(MonotonicNanoseconds() - begin) / 1e6;
  } catch (const client::ClientError&) {
    return -1;
  }
}

BurstHellos MeasureHellosDuringBurst(const BenchContext& c, int burstMs, int probes) {
  BurstHellos result;
  result.hellos.assign(probes, -1);
  std::unique_ptr<client::ProtocolClient> burster;
  try {
    burster = ConnectObserver(c, client::Transport::kTcp, burstMs + 30000);
  } catch (const client::ClientError&) {
    return result;
  }
  const auto start = std::chrono::steady_clock::now();
  std::thread burst([&] {
    try {
      burster->U8(17).Str("sweep").U32(static_cast<uint32_t>(burstMs)).Send();
      const uint32_t id = burster->ReadU32();
      result.burstAnswered = id != 0 && id != 0xFFFFFFFF;
    } catch (const client::ClientError&) {
    }
    result.burstMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  });
  std::vector<std::thread> probeThreads;
  for (int k = 0; k < probes; ++k) {
    const int atMs = 500 + (probes > 1 ? k * (burstMs - 1500) / (probes - 1) : 0);
    std::this_thread::sleep_until(start + std::chrono::milliseconds(atMs));
    const auto transport = k % 2 == 0 ? client::Transport::kTcp : client::Transport::kWebSocket;
    probeThreads.emplace_back([&c, &result, k, transport, burstMs] {
      result.hellos[k] = HelloLatencyMs(c, transport, burstMs + 10000);
    });
  }
  for (auto& t : probeThreads) t.join();
  burst.join();
  return result;
}

}  // namespace orvexa::interference
