// The experiment requests: StartRecording (13), StopRecording (14), ReadExperiment (15),
// ListExperiments (16), IsRecording (18), ListAllExperiments (64), and the close-path step that
// stops a connection's recording. Any admitted client may use them (no control check). Worker
// threads. Starting and stopping ask the plug-ins, so they hold ServerLock around their
// plug-in calls and store changes (the store takes ExperimentLock inside: order
// ServerLock -> ExperimentLock); reading, listing and is-recording never take ServerLock,
// only the store's lock, for bounded copies. Audit lines and replies are written with no
// lock held (a write may wait for a slow peer).
#include <memory>
#include <vector>

#include "base/server_lock.h"
#include "host/device_registry.h"
#include "platform/lock_guard.h"
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
constexpr int32_t kMaxSlotCapacity = static_cast<int32_t>(ExperimentStore::kMaxSlotCapacity);
// Bounds on one read request: the entries it lists (held for the whole reply: 12 bytes
// each) and the samples of its reply (a client repeating one window could otherwise
// make one reply without end). Honest clients send one entry per channel and stay far
// below both.
constexpr uint32_t kMaxReadEntries = 65536;
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
    LockGuard hold(ServerLock());
    ExperimentStore& store = service->Store();
    previous = store.RecordingOf(c.serial);
    if (previous != 0) {
      if (service->StopAll(previous)) {
        store.EndRecordingOf(c.serial);
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
  // Experiments the store evicts are freed here, after ServerLock (a full store drops
  // one on every start).
  ExperimentStore::Dropped dropped;
  {
    LockGuard hold(ServerLock());
    ExperimentStore& store = service->Store();
    const uint32_t candidate = requestedId != 0 ? requestedId : store.NewId();
    if (service->StartAll(candidate, argument)) {
      id = store.Create(ownerKey, candidate, static_cast<uint32_t>(capacity), ring, indexes,
                        c.clientAddress, &dropped);
      store.SetRecordingOf(c.serial, id);
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
    LockGuard hold(ServerLock());
    ExperimentStore& store = service->Store();
    id = store.RecordingOf(c.serial);
    // A plug-in that refuses keeps the recording going, still this connection's.
    if (id != 0 && service->StopAll(id)) {
      store.EndRecordingOf(c.serial);
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

// Writes the results straight into the connection's writer, which sends a piece of the
// reply each time its buffer fills.
class ReplySink : public ExperimentReader::Sink {
 public:
  ReplySink(MessageWriter& out, uint32_t startTick) : out_(out), startTick_(startTick) {}
  void BeginResult(uint16_t channelNumber, uint32_t stored, uint32_t sampleCount) override {
    WriteU16(out_, channelNumber);
    WriteU32(out_, stored);
    WriteU32(out_, sampleCount);
  }
  void Samples(const SampleLog::Sample* samples, size_t count) override {
    for (size_t k = 0; k < count; ++k) {
      WriteU32(out_, samples[k].sequence);
      WriteU32(out_, samples[k].time - startTick_);
      WriteF32(out_, samples[k].value);
    }
  }

 private:
  MessageWriter& out_;
  uint32_t startTick_;
};

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
    if (entry.channelNumber < kFirstBurstSlot && !IsReadableChannel(c, entry.channelNumber))
      ThrowProtocolError(0);
    entries.push_back(entry);
  }

  // Held until the reply is written, so the experiment and its data stay whole even when
  // the store evicts or replaces it meanwhile (see ExperimentReader).
  std::shared_ptr<const Experiment> experiment;
  if (ExperimentService* service = c.env.experiments) experiment = service->Store().Find(id);
  if (experiment == nullptr) {
    WriteU32(c.out, kRefused);
    return;
  }
  const ExperimentReader reader(*experiment, std::move(entries));
  // Too large a reply ends the connection before any of it is written.
  if (reader.SampleCount() > kMaxReadSamples) ThrowProtocolError(0);
  if (AuditLog* audit = OpenAudit(c))
    audit->Write("User %u read data from experiment %d\n", c.serial, static_cast<int>(id));
  WriteU32(c.out, static_cast<uint32_t>(reader.ResultCount()));
  // The worker serves one connection, so this copy buffer is that connection's, kept for
  // its next read (at most one slot: 360 kB).
  thread_local std::vector<SampleLog::Sample> buffer;
  ReplySink sink(c.out, experiment->startTick);
  reader.Stream(sink, buffer);
}

// The list reply; the every-owner list adds each experiment's owner key and kind.
void WriteExperimentList(RequestContext& c, const std::vector<ExperimentStore::Summary>& listed,
                         bool withOwner) {
  WriteU32(c.out, static_cast<uint32_t>(listed.size()));
  for (const ExperimentStore::Summary& e : listed) {
    WriteU32(c.out, e.id);
    WriteU8(c.out, e.recording ? 1 : 0);
    WriteU32(c.out, static_cast<uint32_t>(e.startTime));
    WriteU32(c.out, static_cast<uint32_t>(e.stopTime));
    for (uint8_t byte : e.clientAddress) WriteU8(c.out, byte);
    if (withOwner) {
      WriteU32(c.out, e.ownerKey);
      WriteU8(c.out, e.burst ? 1 : 0);
    }
  }
}

void ListExperiments(RequestContext& c) {
  const uint32_t ownerKey = ReadU32(c.in);
  const uint32_t lowest = ReadU32(c.in);
  const uint32_t highest = ReadU32(c.in);
  std::vector<ExperimentStore::Summary> listed;
  if (ExperimentService* service = c.env.experiments)
    listed = service->Store().List(ownerKey, lowest, highest);
  WriteExperimentList(c, listed, false);
}

void ListAllExperiments(RequestContext& c) {
  const uint32_t lowest = ReadU32(c.in);
  const uint32_t highest = ReadU32(c.in);
  std::vector<ExperimentStore::Summary> listed;
  if (ExperimentService* service = c.env.experiments)
    listed = service->Store().ListAll(lowest, highest);
  WriteExperimentList(c, listed, true);
}

void IsRecording(RequestContext& c) {
  const uint32_t id = ReadU32(c.in);
  bool recording = false;
  if (ExperimentService* service = c.env.experiments) recording = service->Store().IsRecording(id);
  WriteU8(c.out, recording ? 1 : 0);
}

// Close path: the connection's recording stops; the plug-ins are not told and no audit
// line is written for it.
void StopRecordingOnClose(RequestContext& c) {
  if (c.env.experiments != nullptr) c.env.experiments->OnConnectionClosed(c.serial);
}

}  // namespace

void RegisterExperimentRequests(RequestTable& table) {
  table.Register(RequestCode::kStartRecording, StartRecording);
  table.Register(RequestCode::kStopRecording, StopRecording);
  table.Register(RequestCode::kReadExperiment, ReadExperiment);
  table.Register(RequestCode::kListExperiments, ListExperiments);
  table.Register(RequestCode::kListAllExperiments, ListAllExperiments);
  table.Register(RequestCode::kIsRecording, IsRecording);
  table.AddCloseHook(StopRecordingOnClose);
}

}  // namespace orvexa
