// A client's session over an in-memory connection for the targets that drive the
// server's opening exchange and request loop: the connection holds the fuzz input as
// what the client sent, and `context` reads it and writes the replies into memory, as a
// worker would over a socket. One per input, on the fuzzer's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "protocol/request_context.h"
#include "transport/connection_socket.h"
#include "transport/memory_connection.h"
#include "transport/message_writer.h"
#include "transport/socket_stream.h"

struct MemorySession {
  // `chunk`: the most one receive returns (small values split every read).
  MemorySession(orvexa::ServingEnvironment& env, std::string input, size_t chunk)
      : connection(std::move(input), chunk),
        stream(connection, buffer, sizeof buffer, 0),
        writer(connection),
        context(env, stream, writer) {
    context.socketRef = &socket;
  }

  // The receive buffer of a worker, shared by every input (one at a time).
  static inline uint8_t buffer[25000];
  orvexa::MemoryConnection connection;
  orvexa::SocketStream stream;
  orvexa::MessageWriter writer;
  orvexa::RequestContext context;
  orvexa::ConnectionSocket socket;
};
