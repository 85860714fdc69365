#include "protocol/experiment_service.h"

#include <algorithm>
#include <memory>

#include "base/server_lock.h"
#include "host/device_registry.h"
#include "host/experiment_stopped_hook.h"
#include "platform/lock_guard.h"
#include "platform/thread_timing.h"
#include "sessions/audit_log.h"

namespace orvexa {
namespace {

// A burst's experiment, made whole here and published by the store in one step, so no
// reader sees it half filled. Nobody else reaches it before then: its fields need no
// ExperimentLock yet, which the analysis cannot know.
std::shared_ptr<Experiment> MakeBurst(const BurstSample* samples, int n, size_t channels,
                                      const ClientAddress& clientAddress, int64_t t0,
                                      int64_t t1) NO_THREAD_SAFETY_ANALYSIS {
  auto burst = std::make_shared<Experiment>();
  burst->slots = std::vector<ExperimentChannel>(std::max<size_t>(8, channels));
  burst->ownerKey = 0;
  burst->burst = true;
  burst->clientAddress = clientAddress;
  burst->startTime = t0;
  burst->stopTime = t1;
  for (size_t s = 0; s < 8; ++s) {
    burst->slots[s].selected = true;
    burst->slots[s].log.SetCapacity(static_cast<uint32_t>(n));
    burst->slots[s].log.SetRing(false);
  }
  burst->startTick = n >= 1 ? samples[0].time : 0;
  for (int i = 0; i < n; ++i) {
    for (size_t s = 0; s < 8; ++s) burst->slots[s].log.Append(samples[i].time, samples[i].value[s]);
  }
  return burst;
}

}  // namespace

ExperimentService::ExperimentService(DeviceRegistry& registry, AuditLog* audit,
                                     ExperimentStore::Clock clock)
    : registry_(registry), audit_(audit), targets_(registry), store_(targets_, std::move(clock)) {}

ExperimentService::~ExperimentService() {
  if (handlerInstalled_) SetExperimentStoppedHandler({});
}

void ExperimentService::InstallStoppedHandler() {
  SetExperimentStoppedHandler([this](uint32_t id) {
    // Called only by the host hook, which holds ServerLock (possibly re-entered from
    // inside a plug-in call on this thread) around the handler.
    ServerLock().AssertHeld();
    OnExperimentStopped(id);
  });
  handlerInstalled_ = true;
}

bool ExperimentService::StartAll(uint32_t id, uint32_t argument) {
  for (int slot = 0; slot < registry_.PluginCount(); ++slot) {
    if (!registry_.Plugin(slot).StartExperiment(id, argument)) return false;
  }
  return true;
}

bool ExperimentService::StopAll(uint32_t id) {
  for (int slot = 0; slot < registry_.PluginCount(); ++slot) {
    if (!registry_.Plugin(slot).StopExperiment(id)) return false;
  }
  return true;
}

void ExperimentService::OnExperimentStopped(uint32_t id) {
  // ServerLock (held by the host hook) keeps this out of the middle of a start or stop
  // sequence of a request, which holds it around its plug-in calls and store changes.
  store_.FinishAndUnmap(id);
  // ServerLock is held here (by the hook, and often by the host call the plug-in called
  // from): the line is kept and written once the next writer or flush comes, without it.
  if (audit_ != nullptr && audit_->IsOpen())
    audit_->WriteLater("Experiment %u stopped automatically\n", id);
}

void ExperimentService::OnConnectionClosed(uint32_t serial) {
  // No plug-in is asked, so no ServerLock: the close path never waits for a burst.
  store_.EndRecordingOf(serial);
}

uint32_t ExperimentService::RunBurstExperiment(const char* name, uint32_t duration,
                                               const ClientAddress& clientAddress) {
  ExperimentStore::Dropped dropped;  // what the store evicts is freed after ServerLock
  LockGuard hold(ServerLock());
  DevicePlugin* recorder = nullptr;
  for (int slot = 0; slot < registry_.PluginCount() && recorder == nullptr; ++slot) {
    if (registry_.Plugin(slot).BurstSupported(name)) recorder = &registry_.Plugin(slot);
  }
  if (recorder == nullptr) return 0;

  // Only the recording itself runs at real-time priority; without the privilege it
  // runs at normal priority.
  RaiseToRealtimePriority();
  const int64_t t0 = store_.Now();
  BurstSample* samples = nullptr;
  const int n = recorder->BurstRecord(&samples, name, duration);
  const int64_t t1 = store_.Now();
  RestoreNormalPriority();

  if (n < 0) return 0;                        // failed: the plug-in keeps whatever it allocated
  if (n > 0 && samples == nullptr) return 0;  // samples promised but none handed out

  // Made whole here, published by the store in one step: no reader sees it half filled.
  auto burst = MakeBurst(samples, n, registry_.ChannelCount(), clientAddress, t0, t1);
  // Handed back exactly once; a plug-in without LDPBurstFree keeps its array.
  if (samples != nullptr) recorder->BurstFree(samples);
  const uint32_t id = store_.AddFinished(std::move(burst), &dropped);
  return id;
}

}  // namespace orvexa
