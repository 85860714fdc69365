#include "protocol/client_worker.h"

#include <memory>

#include "platform/clock.h"
#include "protocol/request_session.h"
#include "sessions/audit_log.h"
#include "sessions/user_table.h"
#include "transport/connection_closed.h"
#include "transport/connection_tracker.h"
#include "transport/hello_failure_bound.h"
#include "transport/message_writer.h"
#include "transport/socket_connection.h"
#include "transport/socket_stream.h"
#include "transport/websocket_stream.h"

namespace orvexa {
namespace {

constexpr size_t kReceiveBufferSize = 25000;
constexpr IpAddress kLoopback = {127, 0, 0, 1};

// The worker is the only one that closes its socket; it leaves the tracker first so
// that nobody shuts down a handle number that may already be reused.
void CloseOwnSocket(ServingEnvironment& env, ConnectionSocket& socket) {
  if (env.tracker) env.tracker->Untrack(&socket);
  CloseSocketDescriptor(socket.handle);
  socket.handle = kNoSocket;
}

void CountOut(ServingEnvironment& env, bool placeFreed = false) {
  if (env.tracker) env.tracker->Leave(placeFreed);
}

}  // namespace

void ClientWorker(ServingEnvironment& env, std::unique_ptr<AdmittedConnection> connection,
                  const RequestTable& table) {
  ConnectionSocket& socket = connection->socket;
  SocketConnection raw(socket.handle);
  MessageWriter writer(raw);
  std::unique_ptr<uint8_t[]> receiveBuffer(new uint8_t[kReceiveBufferSize]);
  std::unique_ptr<ByteStream> stream;
  WebSocketStream* websocketStream = nullptr;
  std::unique_ptr<RequestContext> session;
  // Ended before it opened, without the close path: a wrong protocol version or a
  // refused token (answered), or an address closed for its refusals.
  bool endedUnopened = false;

  try {
    IpAddress peer{};
    PeerAddress(socket.handle, peer.data());
    SetBlocking(socket.handle, true);
    ReceiveAll(socket.handle, receiveBuffer.get(), 2);
    if (receiveBuffer[0] == 'G' && receiveBuffer[1] == 'E') {
      auto websocket =
          std::make_unique<WebSocketStream>(raw, receiveBuffer.get(), kReceiveBufferSize, 2);
      websocket->Handshake();
      writer.set_framed(true);
      websocketStream = websocket.get();
      stream = std::move(websocket);
    } else {
      // The two bytes are the start of the request protocol.
      stream = std::make_unique<SocketStream>(raw, receiveBuffer.get(), kReceiveBufferSize, 2);
    }
    session = std::make_unique<RequestContext>(env, *stream, writer);
    session->serial = connection->serial;
    session->peerAddress = peer;
    session->clientAddress = peer;
    session->clientHost = HostAddress::FromV4(peer);
    session->local = peer == kLoopback;
    session->socketRef = &socket;
    // A forwarding proxy's X-Real-IP header is believed only from this machine, like
    // the forwarded address of Hello: anybody else could name any address.
    if (!writer.framed()) {
      stream->GetPeerAddress(session->clientAddress.data());  // the socket's peer
      session->clientHost = HostAddress::FromV4(session->clientAddress);
    } else if (session->local && websocketStream->RealIp()) {
      const HostAddress named = *websocketStream->RealIp();
      session->proxied = true;
      session->clientHost = named;
      // Four bytes cannot name an IPv6 client: it keeps the proxy's address there.
      if (named.IsV4()) session->clientAddress = named.V4();
      // A local connection was not counted at accept (behind the local proxy all come
      // from 127.0.0.1); one the proxy names counts from here under the client's own
      // address, IPv4 or IPv6, which may already have its fill. The lab PC's own clients
      // are not counted.
      if (env.tracker && !env.tracker->Readdress(&socket, named)) ThrowTransportError();
    }
    if (session->proxied && env.failures &&
        env.failures->IsBlocked(session->clientHost, MonotonicNanoseconds() / 1000000)) {
      endedUnopened = true;
    } else if (Hello(*session) != HelloResult::kAdmitted) {
      // Hello marks the connection opened in the tracker as soon as it has answered.
      endedUnopened = true;
    } else {
      RunRequestLoop(*session, table);
    }
  } catch (const ConnectionClosed&) {
    // Every end of a connection arrives here alike; the code is never looked at.
  } catch (...) {
    // The worker's last guard: anything else (no memory for a buffer) ends this
    // connection alone, through the same close path.
  }

  if (endedUnopened) {
    // Closed and counted out; a refused token wrote its own audit line, nothing else
    // does.
    CloseOwnSocket(env, socket);
    CountOut(env);
    return;
  }

  // The close path, in its order. The close hooks take only the leaf locks they need
  // (a recording ends under ExperimentLock), never ServerLock: an ending connection gives
  // back its place at once, even while a burst holds the devices.
  if (session) {
    for (CloseHook hook : table.CloseHooks()) {
      try {
        hook(*session);
      } catch (...) {
        // A last guard as well: one hook's failure never skips the rest of the close path.
      }
    }
  }
  try {
    writer.Close(false);
  } catch (const ConnectionClosed&) {
  }
  // The place goes back before the user table's removal, whose control-changed message
  // waits for the devices when the leaver held control during a burst. The worker itself
  // counts as running until its last step: shutdown waits for it.
  if (env.tracker) env.tracker->FreePlace();
  if (session && session->registered && env.users) env.users->RemoveBySocket(&socket);
  session.reset();
  stream.reset();
  CloseOwnSocket(env, socket);
  if (env.audit && env.audit->IsOpen())
    env.audit->Write("Users %u connection closed\n", connection->serial);
  CountOut(env, /*placeFreed=*/true);
}

}  // namespace orvexa
