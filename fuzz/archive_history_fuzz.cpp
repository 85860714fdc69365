// Fuzzes what the archiver believes of a lab server: the channel list, history,
// experiment list and experiment replies it reads. Whatever arrives, the archiver's
// connection must end in a ClientError (then it reconnects), never crash, read outside
// a buffer or take a value that no log holds. The first input byte picks the transport
// (bit 0) and which reads are made; the rest is what the "server" sent.
#include <cstddef>
#include <cstdint>

#include "archive/lab_connection.h"
#include "preloaded_socket.h"

using orvexa::archive::LabConnection;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  PreloadedSocket socket;
  if (!socket.Open(data + 1, size - 1)) return 0;
  LabConnection lab;
  lab.Attach(socket.client, (control & 1) ? orvexa::client::Transport::kWebSocket
                                          : orvexa::client::Transport::kTcp);
  try {
    if (control & 2) lab.ReadableChannels();
    if (control & 4) lab.ListAllExperiments();
    if (control & 8) {
      std::vector<orvexa::archive::ExperimentChannelSamples> channels;
      lab.ReadExperiment(1, {1, 2, 1001}, (control & 16) != 0, &channels);
    }
    for (int i = 0; i < 8; ++i) lab.HistoryBack(1, 1000);
  } catch (const orvexa::client::ClientError&) {
  }
  return 0;
}
