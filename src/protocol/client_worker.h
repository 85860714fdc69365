// The thread procedure of one admitted client connection: chooses the transport from
// the first two bytes ("GE": WebSocket after the upgrade, anything else plain TCP), runs
// the opening exchange and the request loop, and, whatever ends the connection, the
// close path in its order (close hooks, which never wait for ServerLock, writer closed without
// sending, user-table entry removed, stream destroyed, socket closed, "Users %u connection closed",
// counted out). Runs on its own thread; everything it owns is private to it.
#pragma once

#include <cstdint>
#include <memory>

#include "protocol/request_table.h"
#include "protocol/serving_environment.h"
#include "transport/connection_socket.h"

namespace orvexa {

// One admitted connection as handed from the accepting side to its worker.
struct AdmittedConnection {
  ConnectionSocket socket;
  uint32_t serial = 0;
};

void ClientWorker(ServingEnvironment& environment, std::unique_ptr<AdmittedConnection> connection,
                  const RequestTable& table = RequestTable::Standard());

}  // namespace orvexa
