// Requests on single channels of the device registry and on the control queue:
// ListChannels (2), FindReadableChannel (3), FindWritableChannel (4), ReadValue (5),
// WriteValue (6), ControlStatus (7), BatchReplies (10), ListControllers (11),
// WriteValueTimed (19), FindChannel (20). Worker threads; plug-in calls under ServerLock.
#include <cstdio>
#include <string>

#include "base/server_lock.h"
#include "host/device_registry.h"
#include "platform/clock.h"
#include "platform/lock_guard.h"
#include "protocol/request_table.h"
#include "protocol/wire_reader.h"
#include "protocol/wire_writer.h"
#include "sessions/audit_log.h"
#include "sessions/user_table.h"

namespace orvexa {
namespace {

size_t ChannelCount(RequestContext& c) {
  return c.env.registry ? c.env.registry->ChannelCount() : 0;
}

bool ListingDisabled(RequestContext& c) {
  return c.env.deviceListingDisabled != nullptr && c.env.deviceListingDisabled->load();
}

void ListChannels(RequestContext& c) {
  if (ListingDisabled(c)) {
    WriteU32(c.out, 0);
    return;
  }
  size_t count = ChannelCount(c);
  WriteU32(c.out, static_cast<uint32_t>(count));
  for (size_t i = 0; i < count; ++i) {
    const DeviceChannel& channel = c.env.registry->Channel(i);
    WriteU8(c.out, static_cast<uint8_t>((channel.readable ? 1 : 0) | (channel.writable ? 2 : 0)));
    WriteString(c.out, channel.id);
    WriteString(c.out, channel.description);
  }
}

enum class Wanted { kReadable, kWritable, kAny };

uint16_t FindByName(RequestContext& c, const std::string& id, Wanted wanted) {
  size_t count = ChannelCount(c);
  for (size_t i = 0; i < count && i < 0xFFFF; ++i) {
    const DeviceChannel& channel = c.env.registry->Channel(i);
    if (channel.id != id) continue;
    if (wanted == Wanted::kReadable && !channel.readable) continue;
    if (wanted == Wanted::kWritable && !channel.writable) continue;
    return static_cast<uint16_t>(i + 1);
  }
  if (wanted == Wanted::kWritable) return 0;
  for (int k = 0; k < kBurstSlotCount; ++k)
    if (id == "burst_" + std::to_string(k)) return static_cast<uint16_t>(kFirstBurstSlot + k);
  return 0;
}

void FindReadableChannel(RequestContext& c) {
  WriteU16(c.out, FindByName(c, ReadString(c.in), Wanted::kReadable));
}

void FindWritableChannel(RequestContext& c) {
  WriteU16(c.out, FindByName(c, ReadString(c.in), Wanted::kWritable));
}

void FindChannel(RequestContext& c) {
  WriteU16(c.out, FindByName(c, ReadString(c.in), Wanted::kAny));
}

void ReadValue(RequestContext& c) {
  uint16_t number = ReadU16(c.in);
  float value = 0.0f;
  uint32_t time;
  {
    LockGuard guard(ServerLock());
    if (number >= 1 && number <= ChannelCount(c))
      value = c.env.registry->Channel(number - 1).Read(1);
    time = CalendarTime32();
  }
  WriteF32(c.out, value);
  WriteU32(c.out, time);
}

// The control check and the write are one step under the user-table lock, taken before
// ServerLock as everywhere else, so control cannot pass to another user in between.
// The audit line is written after both locks are released: a write can wait for the
// disk, and the fast sampler waits for ServerLock.
void WriteChecked(RequestContext& c, uint16_t number, float value) {
  if (c.observer || !c.env.users || !c.env.users->IsInControl(c.socketRef)) return;
  const DeviceChannel* written = nullptr;
  {
    LockGuard tableGuard(c.env.users->Lock());
    LockGuard guard(ServerLock());
    if (number < 1 || number > ChannelCount(c)) return;
    if (!c.env.users->IsInControlLocked(c.socketRef)) return;
    DeviceChannel& channel = c.env.registry->Channel(number - 1);
    channel.Write(value);
    written = &channel;
  }
  // Channel IDs are fixed at start-up, so the ID is read without ServerLock.
  if (c.env.audit && c.env.audit->IsOpen())
    c.env.audit->Write("User %u sets device ID:\"%s\" to value:%f\n", c.serial, written->id.c_str(),
                       static_cast<double>(value));
}

void WriteValue(RequestContext& c) {
  uint16_t number = ReadU16(c.in);
  float value = ReadF32(c.in);
  WriteChecked(c, number, value);
}

void WriteValueTimed(RequestContext& c) {
  uint16_t number = ReadU16(c.in);
  float value = ReadF32(c.in);
  WriteChecked(c, number, value);
  WriteU32(c.out, CalendarTime32());
}

void ControlStatus(RequestContext& c) {
  uint32_t time = 0;
  int32_t state = c.env.users ? c.env.users->QueueInfo(c.socketRef, &time) : -1;
  if (time == UserTable::kNoLimit) time = 0xFFFFFFFF;
  WriteU32(c.out, static_cast<uint32_t>(state));
  WriteU32(c.out, time);
}

void BatchReplies(RequestContext& c) {
  c.batchCount = ReadU8(c.in);
}

void ListControllers(RequestContext& c) {
  std::vector<IpAddress> addresses;
  if (c.env.users) addresses = c.env.users->ActiveAddresses();
  WriteU32(c.out, static_cast<uint32_t>(addresses.size()));
  for (const auto& a : addresses)
    for (uint8_t b : a) WriteU8(c.out, b);
}

}  // namespace

void RegisterChannelRequests(RequestTable& table) {
  table.Register(RequestCode::kListChannels, ListChannels);
  table.Register(RequestCode::kFindReadableChannel, FindReadableChannel);
  table.Register(RequestCode::kFindWritableChannel, FindWritableChannel);
  table.Register(RequestCode::kReadValue, ReadValue);
  table.Register(RequestCode::kWriteValue, WriteValue);
  table.Register(RequestCode::kControlStatus, ControlStatus);
  table.Register(RequestCode::kBatchReplies, BatchReplies);
  table.Register(RequestCode::kListControllers, ListControllers);
  table.Register(RequestCode::kWriteValueTimed, WriteValueTimed);
  table.Register(RequestCode::kFindChannel, FindChannel);
}

}  // namespace orvexa
