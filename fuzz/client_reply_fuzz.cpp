// Fuzzes the C++ client's reply decoders: whatever a server (or something pretending to
// be one) sends, the client must end in a ClientError, never a crash, a read outside its
// buffers or an allocation sized by a count from the wire. The first input byte picks the
// transport (bit 0: WebSocket frames) and the request whose reply is decoded; the rest is
// what the "server" sent, put into one end of a socket pair before the client reads.
#include <cstddef>
#include <cstdint>
#include <string>

#include "client/protocol_client.h"
#include "preloaded_socket.h"

using orvexa::client::ClientError;
using orvexa::client::ProtocolClient;
using orvexa::client::Transport;

namespace {

void Decode(ProtocolClient& client, uint8_t which) {
  switch (which % 9) {
    case 0:
      client.Hello();
      break;
    case 1:
      client.ListChannels();
      break;
    case 2:
      client.FindChannel(3, "Simulator_Sine");
      break;
    case 3:
      client.ReadValue(1);
      break;
    case 4:
      client.WriteValueTimed(3, 2.5f);
      break;
    case 5:
      client.ControlStatus();
      break;
    case 6:
      client.ListControllers();
      break;
    case 7:
      client.ReceiveMessage();
      break;
    case 8:
      client.ReadString();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  PreloadedSocket socket;
  if (!socket.Open(data + 1, size - 1)) return 0;
  ProtocolClient client;
  client.Attach(socket.client, (control & 1) ? Transport::kWebSocket : Transport::kTcp);
  client.set_timeout_ms(0);  // the end of the input is a time-out
  try {
    Decode(client, static_cast<uint8_t>(control >> 1));
    // What follows is read as further replies.
    for (uint8_t next = static_cast<uint8_t>(control >> 4); next < 64; ++next) Decode(client, next);
  } catch (const ClientError&) {
  }
  return 0;
}
