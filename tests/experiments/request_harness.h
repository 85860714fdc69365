// Runs one client connection's requests in memory against a server environment: the
// input is a Hello followed by the requests a test builds with Request, the output is
// read back with Reply. The connection ends when the input runs out (like a peer that
// closed) or a request ends it; a test that expects a request to end the connection
// follows it with another request and checks that nothing answers it.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

#include "protocol/request_session.h"
#include "sessions/user_table.h"
#include "transport/connection_closed.h"
#include "transport/memory_connection.h"
#include "transport/socket_stream.h"

namespace orvexa::test {

// Big-endian request bytes.
class Request {
 public:
  Request& U8(uint8_t v) {
    bytes.push_back(static_cast<char>(v));
    return *this;
  }
  Request& U16(uint16_t v) { return U8(static_cast<uint8_t>(v >> 8)).U8(static_cast<uint8_t>(v)); }
  Request& U32(uint32_t v) {
    return U16(static_cast<uint16_t>(v >> 16)).U16(static_cast<uint16_t>(v));
  }
  Request& F32(float v) { return U32(std::bit_cast<uint32_t>(v)); }
  Request& Str(const std::string& s) {
    U16(static_cast<uint16_t>(s.size()));
    bytes += s;
    return *this;
  }
  std::string bytes;
};

// Reads a reply; reading past its end fails the test and yields zeros.
class Reply {
 public:
  explicit Reply(std::string bytes) : bytes_(std::move(bytes)) {}
  uint8_t U8() {
    if (position_ >= bytes_.size()) {
      ADD_FAILURE() << "reply too short";
      return 0;
    }
    return static_cast<uint8_t>(bytes_[position_++]);
  }
  uint16_t U16() { return static_cast<uint16_t>((U8() << 8) | U8()); }
  uint32_t U32() { return (static_cast<uint32_t>(U16()) << 16) | U16(); }
  float F32() { return std::bit_cast<float>(U32()); }
  size_t Left() const { return bytes_.size() - position_; }

 private:
  std::string bytes_;
  size_t position_ = 0;
};

struct RequestRun {
  RequestRun(ServingEnvironment& environment, uint32_t connectionSerial)
      : env(environment), serial(connectionSerial) {}

  // Runs Hello + `requests`; returns the reply bytes after the Hello answer.
  Reply Run(const std::string& requests, IpAddress client = {10, 0, 0, 9}) {
    // An environment without a user table borrows this run's for the run alone: the
    // environment outlives the run, the table does not.
    struct BorrowedTable {
      ServingEnvironment& env;
      bool borrowed;
      ~BorrowedTable() {
        if (borrowed) env.users = nullptr;
      }
    } borrowed{env, env.users == nullptr};
    if (borrowed.borrowed) env.users = &users;
    Request hello;
    hello.U16(100).U8(1).Str("");
    MemoryConnection connection(hello.bytes + requests, 7);
    uint8_t buffer[25000];
    SocketStream stream(connection, buffer, sizeof buffer, 0);
    MessageWriter writer(connection);
    RequestContext context(env, stream, writer);
    context.serial = serial;
    context.peerAddress = client;
    context.clientAddress = client;
    context.socketRef = &socket;
    try {
      Hello(context);
      RunRequestLoop(context, RequestTable::Standard());
    } catch (const ConnectionClosed&) {
    }
    users.RemoveBySocket(&socket);
    std::string sent = connection.sent();
    EXPECT_FALSE(sent.empty());
    return Reply(sent.empty() ? sent : sent.substr(1));
  }

  ServingEnvironment& env;
  uint32_t serial;
  UserTable users{nullptr, nullptr};
  ConnectionSocket socket;
};

}  // namespace orvexa::test
