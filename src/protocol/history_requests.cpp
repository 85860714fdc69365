// ReadHistory (8): the logged values of one channel since a span back from now, or a
// window from a start time, optionally thinned to the first sample of each stretch in
// one local hour or to a minimum spacing; at most 131072 samples, oldest first, each as
// (time, value / 256). Worker threads; the log file is read under its own lock alone
// (never ServerLock: a burst or a slow plug-in does not hold history up), the audit line
// and the reply are written after it is released.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "host/device_registry.h"
#include "logging/history_query.h"
#include "platform/clock.h"
#include "protocol/history_wire.h"
#include "protocol/request_table.h"
#include "protocol/wire_reader.h"
#include "protocol/wire_writer.h"
#include "sessions/audit_log.h"
#include "transport/connection_closed.h"

namespace orvexa {
namespace {

// "(d.m.yyyy at h:m:s)" of a calendar time in local time.
std::string LocalStamp(int64_t seconds) {
  LocalTime t = LocalTimeOf(seconds);
  char text[64];
  std::snprintf(text, sizeof text, "(%d.%d.%d at %d:%d:%d)", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  return text;
}

void AuditHistory(RequestContext& c, const std::string& id, uint32_t spanOrStart, uint16_t mode,
                  uint32_t limit) {
  AuditLog* audit = c.env.audit;
  if (audit == nullptr || !audit->IsOpen()) return;
  const char* prefix = "User %u read history data for device ID \"%s\" ";
  if (mode == kHistoryAll) {
    audit->Write((std::string(prefix) + "for last %u seconds\n").c_str(), c.serial, id.c_str(),
                 spanOrStart);
    return;
  }
  if (mode == kHistoryFirstInHour) {
    if (limit > 23) return;
    audit->Write(
        (std::string(prefix) + "for last %u seconds limited to first sample in hour %u\n").c_str(),
        c.serial, id.c_str(), spanOrStart, limit);
    return;
  }
  if (mode != kHistoryWindow) return;
  const uint32_t code = ThinningCode(limit);
  const std::string from = LocalStamp(spanOrStart);
  const std::string to = LocalStamp(int64_t{spanOrStart} + WindowLength(limit));
  const std::string range = std::string(prefix) + "from %s to %s";
  if (code == 24) {
    audit->Write((range + "\n").c_str(), c.serial, id.c_str(), from.c_str(), to.c_str());
  } else if (code < 24) {
    audit->Write((range + " limited to first sample in hour %u\n").c_str(), c.serial, id.c_str(),
                 from.c_str(), to.c_str(), code);
  } else if (const char* name = ThinningName(code)) {
    audit->Write((range + " limited to %s\n").c_str(), c.serial, id.c_str(), from.c_str(),
                 to.c_str(), name);
  }
}

void ReadHistory(RequestContext& c) {
  const uint16_t number = ReadU16(c.in);
  const uint32_t spanOrStart = ReadU32(c.in);
  const uint16_t mode = ReadU16(c.in);
  const uint32_t limit = ReadU32(c.in);
  if (static_cast<int32_t>(spanOrStart) < 0) ThrowProtocolError(-1);
  DeviceRegistry* registry = c.env.registry;
  if (registry == nullptr || number == 0 || number > registry->ChannelCount()) {
    WriteU32(c.out, 0);
    return;
  }
  // Nothing is written while the log lock is held: a write may wait for a slow peer.
  // The reply is encoded under the lock straight from the mapped log (a bounded search
  // and copy of at most 131072 records), then sent whole. The worker serves one
  // connection, so its buffer is that connection's, kept for its next history request
  // (at most a megabyte). Channel records never move while serving and their IDs are
  // fixed at start-up, so the channel is reached without ServerLock.
  thread_local std::vector<uint8_t> reply;
  reply.clear();
  DeviceChannel& channel = registry->Channel(number - 1);
  const bool logged = channel.logFile.ReadLocked([&](const LogFile::View& log) {
    VisitHistory(
        log.header, log.records, log.mappedSlots, CalendarSeconds(), spanOrStart, mode, limit,
        [](const LogRecord* first, uint32_t count) { EncodeHistory(first, count, &reply); },
        log.order);
  });
  const std::string& id = channel.id;
  if (!logged) {
    WriteU32(c.out, 0);
    return;
  }
  AuditHistory(c, id, spanOrStart, mode, limit);
  WriteU32(c.out, static_cast<uint32_t>(reply.size() / kHistoryWireSize));
  c.out.PutBulk(reply.data(), reply.size());
}

}  // namespace

void RegisterHistoryRequests(RequestTable& table) {
  table.Register(RequestCode::kReadHistory, ReadHistory);
}

}  // namespace orvexa
