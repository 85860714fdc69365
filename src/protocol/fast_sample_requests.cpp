// ReadFastSamples (12): the newest samples of a channel's fast-sample buffer, the last n
// or all since a sequence number, at most a maximum, newest first, followed by the
// newest sequence number so a client can poll without gaps. Worker threads; the
// selection is copied under the channel's fastSamplesLock alone (the fast sampler
// appends under it), never under ServerLock, so a burst or a slow plug-in does not hold
// the request up; the reply is written after the lock is released.

#include "host/device_registry.h"
#include "logging/fast_sample_query.h"
#include "platform/lock_guard.h"
#include "protocol/request_table.h"
#include "protocol/wire_reader.h"
#include "protocol/wire_writer.h"

namespace orvexa {
namespace {

void ReadFastSamples(RequestContext& c) {
  const uint16_t number = ReadU16(c.in);
  const uint8_t flags = ReadU8(c.in);
  const uint32_t countOrFirst = ReadU32(c.in);
  const uint16_t maximum = ReadU16(c.in);
  // Channel records never move while serving, so the channel is reached without
  // ServerLock. Nothing is written while the buffer's lock is held: a write may wait for
  // a slow peer.
  FastSampleSelection selection;
  DeviceRegistry* registry = c.env.registry;
  if (registry != nullptr && number != 0 && number <= registry->ChannelCount()) {
    DeviceChannel& channel = registry->Channel(number - 1);
    LockGuard hold(channel.fastSamplesLock);
    if (channel.fastLogEnabled)
      selection = SelectFastSamples(channel.fastSamples, flags, countOrFirst, maximum);
  }
  WriteU32(c.out, static_cast<uint32_t>(selection.samples.size()));
  const bool withTime = (flags & kFastSamplesWithTime) != 0;
  for (const SampleLog::Sample& sample : selection.samples) {
    WriteU32(c.out, withTime ? sample.time : sample.sequence);
    WriteF32(c.out, sample.value);
  }
  if (!selection.samples.empty()) WriteU32(c.out, selection.newest);
}

}  // namespace

void RegisterFastSampleRequests(RequestTable& table) {
  table.Register(RequestCode::kReadFastSamples, ReadFastSamples);
}

}  // namespace orvexa
