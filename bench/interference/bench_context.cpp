#include "bench_context.h"

#include <algorithm>

namespace orvexa::interference {

std::unique_ptr<client::ProtocolClient> ConnectObserver(const BenchContext& c,
                                                        client::Transport transport,
                                                        int timeoutMs) {
  auto client = std::make_unique<client::ProtocolClient>();
  client->set_timeout_ms(timeoutMs);
  client->Connect("127.0.0.1", c.port, transport);
  if (client->Hello(3) != 0) throw client::ClientError("Hello not answered with 0");
  return client;
}

void SendLargestExperimentRead(client::ProtocolClient& client, const BenchContext& c) {
  const uint32_t window = std::max<uint32_t>(c.experimentStored, 1);
  const uint32_t entries = kMaxReadSamples / window;
  client.U8(15).U32(c.experimentId).U32(entries);
  for (uint32_t k = 0; k < entries; ++k) client.U16(c.fast).U32(0).U32(window);
  client.Send();
}

}  // namespace orvexa::interference
