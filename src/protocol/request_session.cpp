#include "protocol/request_session.h"

#include "protocol/wire_reader.h"
#include "protocol/wire_writer.h"
#include "sessions/audit_log.h"
#include "sessions/user_table.h"
#include "transport/connection_closed.h"
#include "transport/connection_tracker.h"

namespace orvexa {
namespace {

enum ClientKind : uint8_t { kController = 1, kForwarded = 2, kObserver = 3 };

}  // namespace

HelloResult Hello(RequestContext& c) {
  if (ReadU16(c.in) != kProtocolVersion) {
    WriteU8(c.out, 3);
    c.out.Flush(true);
    return HelloResult::kWrongVersion;
  }
  uint8_t kind = ReadU8(c.in);
  if (kind == kForwarded) {
    // Only a proxy on this machine may name the client's address, and the proxy's own
    // X-Real-IP stands: behind it every browser arrives from 127.0.0.1 and could claim
    // any address here.
    if (!c.local) ThrowProtocolError(0);
    IpAddress named{};
    for (auto& b : named) b = ReadU8(c.in);
    if (!c.proxied) c.clientAddress = named;
    c.forwarded = true;
    kind = ReadU8(c.in);
  }
  if (kind == kObserver)
    c.observer = true;
  else if (kind != kController)
    ThrowProtocolError(0);
  ReadString(c.in);  // credential: read, not checked
  WriteU8(c.out, 0);
  c.out.Flush(true);
  // Opened: the opening deadline and the address's count of openings no longer apply.
  // Before AddUser, which may wait for the device lock (a change of control tells the
  // plug-ins) while a burst holds it.
  if (c.env.tracker) c.env.tracker->MarkOpened(c.socketRef);
  if (c.env.audit && c.env.audit->IsOpen()) {
    const auto& a = c.clientAddress;
    const auto& p = c.peerAddress;
    c.env.audit->Write("User connected from:%d.%d.%d.%d (over %d.%d.%d.%d) Using ID:%u\n", a[0],
                       a[1], a[2], a[3], p[0], p[1], p[2], p[3], c.serial);
  }
  if (c.env.users) c.env.users->AddUser(0, c.clientAddress, c.socketRef, c.observer, c.forwarded);
  c.registered = true;
  return HelloResult::kAdmitted;
}

void RunRequestLoop(RequestContext& c, const RequestTable& table) {
  for (;;) {
    uint8_t code = ReadU8(c.in);
    if (c.env.users) c.env.users->Touch(c.socketRef);
    RequestHandler handler = table.Find(code);
    if (!handler) ThrowProtocolError(0);
    handler(c);
    if (c.batchCount == 0)
      c.out.Flush(true);
    else
      --c.batchCount;
  }
}

}  // namespace orvexa
