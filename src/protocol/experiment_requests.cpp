// The experiment requests: StartRecording (13), StopRecording (14), ReadExperiment (15),
// ListExperiments (16), IsRecording (18), and the close-path step that stops a
// connection's recording. Any admitted client may use them (no control check). Worker
// threads; the store, the recording map and the plug-in calls run under ServerLock,
// audit lines and replies are written after it is released (a write may wait for a slow
// peer).
#include <mutex>
#include <vector>

#include "base/server_lock.h"
#include "host/device_registry.h"
#include "protocol/experiment_read.h"
#include "protocol/experiment_service.h"
#include "protocol/request_table.h"
#include "protocol/wire_reader.h"
#include "protocol/wire_writer.h"
#include "sessions/audit_log.h"
#include "transport/connection_closed.h"

namespace orvexa {
namespace {

constexpr uint32_t kRefused = 0xFFFFFFFF;
constexpr int32_t kMaxSlotCapacity = 30000;
// Bounds on what one read request may make the server hold: the entries it lists and
// the samples of its reply (a client repeating one window could otherwise grow the
// reply without end). Honest clients stay far below both.
constexpr uint32_t kMaxReadEntries = 1'000'000;
constexpr size_t kMaxReadSamples = 4'194'304;

AuditLog* OpenAudit(RequestContext& c) {
  return c.env.audit != nullptr && c.env.audit->IsOpen() ? c.env.audit : nullptr;
}

// A readable channel number of the registry (1 .. count).
bool IsReadableChannel(RequestContext& c, uint32_t number) {
  DeviceRegistry* registry = c.env.registry;
  return registry != nullptr && number >= 1 && number <= registry->ChannelCount() &&
         registry->Channel(number - 1).readable;
}

void StartRecording(RequestContext& c) {
  ExperimentService* service = c.env.experiments;
  uint32_t previous = 0;
  bool previousKept = false;
  if (service != nullptr) {
    std::lock_guard<std::recursive_mutex> hold(ServerLock());
    ExperimentStore& store = service->Store();
    previous = store.Recordings().Lookup(c.serial);
    if (previous != 0) {
      if (service->StopAll(previous)) {
        store.Finish(previous);
        store.Recordings().Remove(c.serial);
      } else {
        previousKept = true;
      }
    }
  }
  if (previous != 0 && !previousKept) {
    if (AuditLog* audit = OpenAudit(c))
      audit->Write("User %u stopped recording of experiment %d\n", c.serial,
                   static_cast<int>(previous));
  }

  const uint32_t ownerKey = ReadU32(c.in);
  const uint32_t requestedId = ReadU32(c.in);
  int32_t capacity = static_cast<int32_t>(ReadU32(c.in));
  const uint32_t argument = ReadU32(c.in);
  const bool ring = ReadU8(c.in) != 0;
  const uint16_t n = ReadU16(c.in);
  std::vector<uint16_t> numbers(n);
  for (uint16_t& number : numbers) number = ReadU16(c.in);
  if (previousKept || service == nullptr) {
    WriteU32(c.out, kRefused);
    return;
  }
  if (capacity < 0 || capacity > kMaxSlotCapacity) capacity = kMaxSlotCapacity;
  std::vector<size_t> indexes;
  indexes.reserve(n);
  for (uint16_t number : numbers) {
    if (!IsReadableChannel(c, number)) ThrowProtocolError(0);
    indexes.push_back(number - 1u);
  }

  uint32_t id = kRefused;
  // The refusal answer cannot name an experiment: a recording under that id would run
  // while its client is told it was refused.
  if (requestedId == kRefused) {
    WriteU32(c.out, kRefused);
    return;
  }
  {
    std::lock_guard<std::recursive_mutex> hold(ServerLock());
    ExperimentStore& store = service->Store();
    const uint32_t candidate = requestedId != 0 ? requestedId : store.NewId();
    if (service->StartAll(candidate, argument)) {
      id = store.Create(ownerKey, candidate, static_cast<uint32_t>(capacity), ring, indexes,
                        c.clientAddress);
      store.Recordings().Set(c.serial, id);
    }
  }
  WriteU32(c.out, id);
  if (id != kRefused) {
    if (AuditLog* audit = OpenAudit(c))
      audit->Write("User %u started recording of experiment %d\n", c.serial, static_cast<int>(id));
  }
}

void StopRecording(RequestContext& c) {
  ExperimentService* service = c.env.experiments;
  uint32_t id = 0;
  bool stopped = false;
  if (service != nullptr) {
    std::lock_guard<std::recursive_mutex> hold(ServerLock());
    ExperimentStore& store = service->Store();
    id = store.Recordings().Lookup(c.serial);
    // A plug-in that refuses keeps the recording going, still this connection's.
    if (id != 0 && service->StopAll(id)) {
      store.Recordings().Remove(c.serial);
      store.Finish(id);
      stopped = true;
    }
  }
  if (!stopped) {
    WriteU32(c.out, kRefused);
    return;
  }
  if (AuditLog* audit = OpenAudit(c))
    audit->Write("User %u stopped recording of experiment %d\n", c.serial, static_cast<int>(id));
  WriteU32(c.out, id);
}

void ReadExperiment(RequestContext& c) {
  const uint32_t id = ReadU32(c.in);
  const uint32_t m = ReadU32(c.in);
  if (m > kMaxReadEntries) ThrowProtocolError(0);
  std::vector<ExperimentReadEntry> entries;
  entries.reserve(m);
  for (uint32_t k = 0; k < m; ++k) {
    ExperimentReadEntry entry;
    entry.channelNumber = ReadU16(c.in);
    entry.first = ReadU32(c.in);
    entry.count = ReadU32(c.in);
    // Below 1001 a channel of the registry; from 1001 on a burst slot.
    if (entry.channelNumber < kFirstBurstSlotNumber && !IsReadableChannel(c, entry.channelNumber))
      ThrowProtocolError(0);
    entries.push_back(entry);
  }

  bool found = false;
  bool withinLimit = true;
  uint32_t startTick = 0;
  std::vector<ExperimentReadResult> results;
  if (ExperimentService* service = c.env.experiments) {
    std::lock_guard<std::recursive_mutex> hold(ServerLock());
    if (const Experiment* experiment = service->Store().Find(id)) {
      found = true;
      startTick = experiment->startTick;
      withinLimit = CollectExperimentData(*experiment, entries, &results, kMaxReadSamples);
    }
  }
  if (!found) {
    WriteU32(c.out, kRefused);
    return;
  }
  if (!withinLimit) ThrowProtocolError(0);
  if (AuditLog* audit = OpenAudit(c))
    audit->Write("User %u read data from experiment %d\n", c.serial, static_cast<int>(id));
  WriteU32(c.out, static_cast<uint32_t>(results.size()));
  for (const ExperimentReadResult& result : results) {
    WriteU16(c.out, result.channelNumber);
    WriteU32(c.out, result.stored);
    WriteU32(c.out, static_cast<uint32_t>(result.samples.size()));
    for (const SampleLog::Sample& sample : result.samples) {
      WriteU32(c.out, sample.sequence);
      WriteU32(c.out, sample.time - startTick);
      WriteF32(c.out, sample.value);
    }
  }
}

struct ListedExperiment {
  uint32_t id;
  bool recording;
  int64_t startTime;
  int64_t stopTime;
  ClientAddress address;
};

void ListExperiments(RequestContext& c) {
  const uint32_t ownerKey = ReadU32(c.in);
  const uint32_t lowest = ReadU32(c.in);
  const uint32_t highest = ReadU32(c.in);
  std::vector<ListedExperiment> listed;
  if (ExperimentService* service = c.env.experiments) {
    std::lock_guard<std::recursive_mutex> hold(ServerLock());
    for (const auto& [id, e] : service->Store().Experiments()) {
      if (e.ownerKey != ownerKey || id < lowest || (highest != 0 && id > highest)) continue;
      listed.push_back({id, e.recording, e.startTime, e.stopTime, e.clientAddress});
    }
  }
  WriteU32(c.out, static_cast<uint32_t>(listed.size()));
  for (const ListedExperiment& e : listed) {
    WriteU32(c.out, e.id);
    WriteU8(c.out, e.recording ? 1 : 0);
    WriteU32(c.out, static_cast<uint32_t>(e.startTime));
    WriteU32(c.out, static_cast<uint32_t>(e.stopTime));
    for (uint8_t byte : e.address) WriteU8(c.out, byte);
  }
}

void IsRecording(RequestContext& c) {
  const uint32_t id = ReadU32(c.in);
  bool recording = false;
  if (ExperimentService* service = c.env.experiments) {
    std::lock_guard<std::recursive_mutex> hold(ServerLock());
    recording = service->Store().IsRecording(id);
  }
  WriteU8(c.out, recording ? 1 : 0);
}

// Close path: the connection's recording stops; the plug-ins are not told and no audit
// line is written for it.
void StopRecordingOnClose(RequestContext& c) {
  if (c.env.experiments != nullptr) c.env.experiments->OnConnectionClosed(c.serial);
}

}  // namespace

void RegisterExperimentRequests(RequestTable& table) {
  table.Register(13, StartRecording);
  table.Register(14, StopRecording);
  table.Register(15, ReadExperiment);
  table.Register(16, ListExperiments);
  table.Register(18, IsRecording);
  table.AddCloseHook(StopRecordingOnClose);
}

}  // namespace orvexa
