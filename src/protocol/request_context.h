// The per-connection state of the request layer, handed to every request handler: the
// connection's stream and writer, its serial number (the "User %u" of its audit lines),
// addresses, client kind, its key in the user table, the reply batching counter and,
// with authentication, who the token names and when its booking ends.
// Private to the connection's worker thread. Request families that keep per-connection
// state (a running recording, for example) add their fields here.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/serving_environment.h"
#include "sessions/user_entry.h"
#include "transport/byte_stream.h"
#include "transport/connection_socket.h"
#include "transport/host_address.h"
#include "transport/message_writer.h"

namespace orvexa {

struct RequestContext {
  RequestContext(ServingEnvironment& environment, ByteStream& input, MessageWriter& output)
      : env(environment), in(input), out(output) {}

  ServingEnvironment& env;
  ByteStream& in;
  MessageWriter& out;

  uint32_t serial = 0;
  IpAddress clientAddress{};              // after X-Real-IP or a forwarded address
  HostAddress clientHost;                 // the same, IPv6 too (four bytes cannot hold it)
  IpAddress peerAddress{};                // the socket's peer
  bool local = false;                     // the peer is exactly 127.0.0.1
  bool proxied = false;                   // clientAddress came from the proxy's X-Real-IP
  ConnectionSocket* socketRef = nullptr;  // key in the user table
  bool observer = false;
  bool forwarded = false;
  bool registered = false;
  uint32_t batchCount = 0;  // replies still held back (BatchReplies)
  // With authentication: the token's user and when its booking ends (calendar seconds,
  // 0: never); the request loop ends the connection once it has.
  std::string subject;
  int64_t bookingEnd = 0;
};

}  // namespace orvexa
