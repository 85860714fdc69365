// One connected user of the user table: its table id, client address, account, the
// connection's socket (with its idle expiry), the kind of client and, with
// authentication, who it is and when its booking ends. Plain data, guarded by
// the user-table lock.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "transport/connection_socket.h"

namespace orvexa {

using IpAddress = std::array<uint8_t, 4>;

struct UserEntry {
  uint32_t id = 0;
  IpAddress address{};
  uint32_t account = 0;
  ConnectionSocket* socketRef = nullptr;  // also holds the idle expiry
  bool observer = false;
  bool forwarded = false;
  // With authentication: the token's user (`sub`, safe for a line of text), when the
  // booking ends (calendar seconds; 0: never) and the connection's serial number for
  // the audit line that ends it.
  std::string subject;
  int64_t bookingEnd = 0;
  uint32_t serial = 0;
};

// One row of the "Clients quene" list: the text "%3.3d.%3.3d.%3.3d.%3.3d %c%c%c" and the
// entry's id (what KICK removes).
struct ClientRow {
  uint32_t id = 0;
  std::string text;
};

}  // namespace orvexa
