// Fuzzes the experiment, burst, history and fast-sample requests of the request loop
// over an in-memory connection: the input (after a fixed Hello) is a stream of request
// codes and arguments. The store holds a burst-like experiment with data and a recording
// from the start, so windows, slot numbers beyond the slots and huge counts are reached.
// Any input must end in a clean end of the connection (a thrown integer), never a
// crash, a read outside an array or unbounded memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/device_registry.h"
#include "protocol/experiment_service.h"
#include "protocol/request_session.h"
#include "sessions/user_table.h"
#include "transport/connection_closed.h"
#include "transport/memory_connection.h"
#include "transport/socket_stream.h"

namespace {

// A store with a finished experiment of eight slots with data (one slot unselected,
// ring and non-ring slots, more samples appended than they hold).
void Fill(orvexa::ExperimentStore& store) {
  auto e = std::make_shared<orvexa::Experiment>();
  e->slots = std::vector<orvexa::ExperimentChannel>(8);
  for (size_t s = 0; s < 8; ++s) {
    e->slots[s].selected = s != 3;
    e->slots[s].log.SetCapacity(50);
    e->slots[s].log.SetRing(s % 2 == 0);
    for (uint32_t i = 0; i < 60; ++i) e->slots[s].log.Append(i * 10, static_cast<float>(i));
  }
  store.AddFinished(std::move(e));  // id 1
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvexa;
  static DeviceRegistry registry;
  static UserTable users{nullptr, nullptr};
  ExperimentService service(registry, nullptr, {[] { return int64_t{1000}; }, [] { return 7u; }});
  Fill(service.Store());
  ServingEnvironment env;
  env.registry = &registry;
  env.users = &users;
  env.experiments = &service;
  const std::string hello("\x00\x64\x01\x00\x00", 5);  // version 100, kind 1, no credential
  MemoryConnection connection(hello + std::string(reinterpret_cast<const char*>(data), size), 64);
  static uint8_t buffer[25000];
  SocketStream stream(connection, buffer, sizeof buffer, 0);
  MessageWriter writer(connection);
  RequestContext context(env, stream, writer);
  ConnectionSocket socket;
  context.serial = 5;
  context.socketRef = &socket;
  try {
    Hello(context);
    RunRequestLoop(context, RequestTable::Standard());
  } catch (const ConnectionClosed&) {
  }
  service.OnConnectionClosed(5);
  users.RemoveBySocket(&socket);
  return 0;
}
