// Fuzzes the opening exchange and the request loop over an in-memory connection, with a
// small registry holding the test device (Probe: a readable, a read-back, a write-only
// channel and one named like a burst slot). The first input byte picks the receive size,
// whether the peer is 127.0.0.1, the control and listing settings and whether another
// user already holds control. Any input must end the session with a thrown integer,
// never a crash, a hang or a read outside a buffer.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/plugin_discovery.h"
#include "memory_session.h"
#include "protocol/request_session.h"
#include "sessions/user_table.h"
#include "transport/connection_closed.h"

namespace {

orvexa::DeviceRegistry& Registry() {
  static orvexa::DeviceRegistry* registry = [] {
    auto* r = new orvexa::DeviceRegistry;
    orvexa::PluginHostContext context;
    context.folder = FUZZ_DEVICE_DIR;
    if (!orvexa::LoadPlugin(*r, "FuzzDevice.ldp", context)) __builtin_trap();
    return r;
  }();
  return *registry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t control = data[0];
  std::atomic<bool> listingDisabled{(control & 0x04) != 0};
  orvexa::UserTable users(nullptr, nullptr);
  orvexa::UserTableSettings userSettings;
  userSettings.limitMultipleControl = control & 0x08;
  userSettings.limitUsage = control & 0x10;
  users.ApplySettings(userSettings);
  orvexa::ConnectionSocket other;
  if (control & 0x20) users.AddUser(0, {10, 0, 0, 1}, &other, false, false);

  orvexa::ServingEnvironment env;
  env.registry = &Registry();
  env.users = &users;
  env.deviceListingDisabled = &listingDisabled;

  MemorySession session(env, std::string(reinterpret_cast<const char*>(data + 1), size - 1),
                        (control & 0x40) ? 1 << 20 : (control >> 7) + 1);
  orvexa::RequestContext& context = session.context;
  context.local = control & 0x01;
  context.peerAddress =
      context.local ? orvexa::IpAddress{127, 0, 0, 1} : orvexa::IpAddress{10, 9, 8, 7};
  context.clientAddress = context.peerAddress;
  try {
    if (orvexa::Hello(context) == orvexa::HelloResult::kAdmitted)
      orvexa::RunRequestLoop(context, orvexa::RequestTable::Standard());
  } catch (const orvexa::ConnectionClosed&) {
  }
  if (context.registered) users.RemoveBySocket(&session.socket);
  return 0;
}
