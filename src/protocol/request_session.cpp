#include "protocol/request_session.h"

#include "platform/clock.h"
#include "protocol/wire_reader.h"
#include "protocol/wire_writer.h"
#include "protocol_api/request_catalog.h"
#include "sessions/audit_log.h"
#include "sessions/token_verifier.h"
#include "sessions/user_table.h"
#include "transport/connection_closed.h"
#include "transport/connection_tracker.h"
#include "transport/hello_failure_bound.h"

namespace orvexa {
namespace {

enum ClientKind : uint8_t { kController = 1, kForwarded = 2, kObserver = 3 };

// The refusal of an address already closed for its refusals.
constexpr const char* kBlockedReason = "too many refusals";

int64_t NowMs() {
  return MonotonicNanoseconds() / 1000000;
}

// The refusals of the lab PC's own clients (127.0.0.1, no proxy or forwarded address
// naming another) are not bounded: one of them retrying with an expired token must not
// close the port to every other local client, the local proxy's included.
HelloFailureBound* FailureBoundFor(const RequestContext& c) {
  return c.local && !c.proxied && !c.forwarded ? nullptr : c.env.failures;
}

// The token check of an opening with authentication on. Empty when admitted (the
// token's user and booking end are in the context), otherwise the reason of the refusal.
std::string CheckToken(RequestContext& c, const std::string& credential) {
  // A proxy's forwarded address is known only here.
  HelloFailureBound* failures = FailureBoundFor(c);
  if (failures && failures->IsBlocked(c.clientHost, NowMs())) return kBlockedReason;
  if (credential.empty() && c.observer && c.env.allowAnonymousObservers) return "";
  TokenCheck check = c.env.tokens->Verify(credential, CalendarSeconds());
  if (!check.valid) return check.reason;
  if (check.role == TokenRole::kObserver && !c.observer)
    return "observer token for a controlling client";
  c.subject = check.subject;
  c.bookingEnd = check.expires;
  return "";
}

// Counted and written before the answer: a client that does not wait for it is
// counted all the same.
void RefuseHello(RequestContext& c, const std::string& reason) {
  // The client's own address, IPv6 included: four bytes could not tell IPv6 clients apart.
  const std::string client = c.clientHost.ToString();
  const auto& p = c.peerAddress;
  // An address already closed for a while is neither written nor counted again.
  if (reason != kBlockedReason) {
    if (c.env.audit && c.env.audit->IsOpen())
      c.env.audit->Write("Hello refused from %s (over %d.%d.%d.%d): %s\n", client.c_str(), p[0],
                         p[1], p[2], p[3], reason.c_str());
    HelloFailureBound* failures = FailureBoundFor(c);
    if (failures && failures->RecordFailure(c.clientHost, NowMs()) && c.env.audit &&
        c.env.audit->IsOpen())
      c.env.audit->Write("Address %s closed for %d s after %u refused Hellos\n", client.c_str(),
                         static_cast<int>(HelloFailureBound::kBlockMs / 1000),
                         HelloFailureBound::kMaxFailures);
  }
  WriteU8(c.out, static_cast<uint8_t>(HelloAnswer::kNotAuthorised));
  c.out.Flush(true);
}

}  // namespace

HelloResult Hello(RequestContext& c) {
  if (ReadU16(c.in) != kProtocolVersion) {
    WriteU8(c.out, static_cast<uint8_t>(HelloAnswer::kWrongVersion));
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
    if (!c.proxied) {
      c.clientAddress = named;
      c.clientHost = HostAddress::FromV4(named);
    }
    c.forwarded = true;
    kind = ReadU8(c.in);
  }
  if (kind == kObserver)
    c.observer = true;
  else if (kind != kController)
    ThrowProtocolError(0);
  const std::string credential = ReadString(c.in);  // without authentication: not checked
  if (c.env.tokens) {
    const std::string refusal = CheckToken(c, credential);
    if (!refusal.empty()) {
      RefuseHello(c, refusal);
      return HelloResult::kNotAuthorised;
    }
  }
  WriteU8(c.out, static_cast<uint8_t>(HelloAnswer::kAdmitted));
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
  if (c.env.tokens && c.env.audit && c.env.audit->IsOpen()) {
    const char* role = !c.observer         ? "controller"
                       : c.subject.empty() ? "anonymous observer"
                                           : "observer";
    c.env.audit->Write("User %u authenticated as \"%s\" (%s)\n", c.serial, c.subject.c_str(), role);
  }
  if (c.env.users)
    c.env.users->AddUser(0, c.clientAddress, c.socketRef, c.observer, c.forwarded,
                         {c.subject, c.bookingEnd, c.serial});
  c.registered = true;
  return HelloResult::kAdmitted;
}

void RunRequestLoop(RequestContext& c, const RequestTable& table) {
  for (;;) {
    uint8_t code = ReadU8(c.in);
    // The booking is over: nothing more is done for it, control passes on.
    if (c.bookingEnd != 0 && CalendarSeconds() >= c.bookingEnd) {
      if (c.env.users) c.env.users->EndBooking(c.socketRef);
      ThrowProtocolError(0);
    }
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
