// The experiment service with real plug-ins loaded into the host: the plug-ins' say in
// starting and stopping, their stopped callback (from inside LDPExperiment and from a
// thread of their own), the close path, and bursts copied out of a plug-in and handed
// back exactly once.
#include "protocol/experiment_service.h"

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "base/server_lock.h"
#include "probe_fixture.h"

namespace orvexa::test {
namespace {

class ExperimentServiceTest : public ProbeTest {
 protected:
  void Start() {
    Discover();
    service = std::make_unique<ExperimentService>(
        *registry, nullptr,
        ExperimentStore::Clock{[this] { return now; }, [] { return uint32_t{77}; }});
    service->InstallStoppedHandler();
  }
  void TearDown() override {
    service.reset();
    ProbeTest::TearDown();
  }
  uint32_t Record(std::vector<size_t> channels, uint32_t param = 0, uint32_t serial = 1) {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    ExperimentStore& store = service->Store();
    const uint32_t id = store.NewId();
    if (!service->StartAll(id, param)) return 0;
    store.Create(5, id, 100, false, channels, ClientAddress{127, 0, 0, 1});
    store.SetRecordingOf(serial, id);
    return id;
  }

  int64_t now = kStart;
  std::unique_ptr<ExperimentService> service;
};

TEST_F(ExperimentServiceTest, PluginsAgreeOrRefuseStartAndStop) {
  AddPlugin("Probe");
  Start();
  EXPECT_EQ(Record({0}, 1), 0u);  // parameter 1: the probe refuses
  EXPECT_EQ(Read("Probe_starts"), 1.0f);
  const uint32_t id = Record({0}, 2);  // agrees, refuses the next stop
  ASSERT_NE(id, 0u);
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  EXPECT_FALSE(service->StopAll(id));
  EXPECT_TRUE(service->StopAll(id));
  EXPECT_EQ(Read("Probe_stops"), 2.0f);
}

TEST_F(ExperimentServiceTest, PluginWithoutExperimentSupportNeverBlocks) {
  AddPlugin("NoFree");
  Start();
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  EXPECT_TRUE(service->StartAll(1, 1));
  EXPECT_TRUE(service->StopAll(1));
}

// The probe calls the host's callback from inside the start call, made with ServerLock
// held on this very thread: it must come back, not wait for itself.
TEST_F(ExperimentServiceTest, CallbackFromInsideTheStartCallDoesNotDeadlock) {
  AddPlugin("Probe");
  Start();
  const uint32_t previous = Record({0});
  auto done = std::async(std::launch::async, [&] {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    return service->StartAll(previous, 3);
  });
  ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "the stopped callback deadlocked";
  EXPECT_TRUE(done.get());
  // The callback stopped the experiment it named and unmapped its connection.
  EXPECT_FALSE(service->Store().IsRecording(previous));
  EXPECT_EQ(service->Store().RecordingOf(1), 0u);
}

TEST_F(ExperimentServiceTest, PluginThreadStopsTheExperimentThroughTheCallback) {
  AddPlugin("Probe");
  Start();
  const uint32_t id = Record({0}, 4, 9);
  ASSERT_NE(id, 0u);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  // The plug-in's thread changes the store under ServerLock; so is it read here.
  auto recording = [&] {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    return service->Store().IsRecording(id);
  };
  while (recording() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  EXPECT_FALSE(service->Store().IsRecording(id));
  EXPECT_EQ(service->Store().RecordingOf(9), 0u);
  EXPECT_TRUE(registry->Channel(0).recordings.empty());
}

TEST_F(ExperimentServiceTest, ClosedConnectionStopsItsRecordingWithoutAskingPlugins) {
  AddPlugin("Probe");
  Start();
  const uint32_t id = Record({0, 0}, 0, 4);
  now += 20;
  service->OnConnectionClosed(4);
  service->OnConnectionClosed(4);  // a second close finds nothing
  service->OnConnectionClosed(5);
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  std::shared_ptr<Experiment> e = service->Store().Find(id);
  ASSERT_NE(e, nullptr);
  EXPECT_FALSE(e->recording);
  EXPECT_EQ(e->stopTime, now);
  EXPECT_TRUE(registry->Channel(0).recordings.empty());
  EXPECT_EQ(Read("Probe_stops"), 0.0f);
}

TEST_F(ExperimentServiceTest, BurstIsCopiedIntoEightSlotsAndFreedOnce) {
  AddPlugin("Probe");
  Start();
  now = kStart + 3;
  const uint32_t id = service->RunBurstExperiment("probe", 100, ClientAddress{1, 2, 3, 4});
  ASSERT_NE(id, 0u);
  EXPECT_EQ(Read("Probe_frees"), 1.0f);
  EXPECT_EQ(Read("Probe_outstanding"), 0.0f);
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  std::shared_ptr<Experiment> e = service->Store().Find(id);
  ASSERT_NE(e, nullptr);
  EXPECT_FALSE(e->recording);
  EXPECT_EQ(e->ownerKey, 0u);
  EXPECT_EQ(e->clientAddress, (ClientAddress{1, 2, 3, 4}));
  EXPECT_EQ(e->slots.size(), std::max<size_t>(8, registry->ChannelCount()));
  EXPECT_EQ(e->startTick, 1000u);
  EXPECT_EQ(e->startTime, now);
  for (size_t s = 0; s < 8; ++s) {
    ASSERT_TRUE(e->slots[s].selected);
    const SampleLog& log = e->slots[s].log;
    ASSERT_EQ(log.Count(), 100u);
    EXPECT_FALSE(log.IsRing());
    EXPECT_EQ(log.FromOldest(0).sequence, 0u);
    EXPECT_EQ(log.FromOldest(99).time, 1000u + 990u);
    EXPECT_EQ(log.FromOldest(42).value, static_cast<float>(1000 * s + 42));
  }
  for (size_t s = 8; s < e->slots.size(); ++s) EXPECT_FALSE(e->slots[s].selected);
  EXPECT_FALSE(service->Store().IsRecording(id));
}

TEST_F(ExperimentServiceTest, EmptyFailedAndUnknownBursts) {
  AddPlugin("Probe");
  Start();
  const uint32_t empty = service->RunBurstExperiment("probe", 0, ClientAddress{});
  ASSERT_NE(empty, 0u);
  {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    std::shared_ptr<Experiment> e = service->Store().Find(empty);
    EXPECT_EQ(e->startTick, 0u);
    EXPECT_TRUE(e->slots[3].selected);
    EXPECT_EQ(e->slots[3].log.Count(), 0u);
  }
  EXPECT_EQ(service->RunBurstExperiment("probe_fail", 10, ClientAddress{}), 0u);
  EXPECT_EQ(service->RunBurstExperiment("", 10, ClientAddress{}), 0u);
  EXPECT_EQ(service->RunBurstExperiment("sweep", 10, ClientAddress{}), 0u);
  EXPECT_EQ(Read("Probe_frees"), 0.0f);  // nothing was handed out
  // No id was used up by the failures.
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  EXPECT_EQ(service->Store().NewId(), empty + 1);
}

// NoFree records bursts but has no LDPBurstFree: its array stays its own and nothing
// calls the missing function.
TEST_F(ExperimentServiceTest, BurstFromPluginWithoutFreeFunction) {
  AddPlugin("NoFree");
  Start();
  const uint32_t id = service->RunBurstExperiment("nofree", 1, ClientAddress{});
  ASSERT_NE(id, 0u);
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  std::shared_ptr<Experiment> e = service->Store().Find(id);
  EXPECT_EQ(e->startTick, 50u);
  EXPECT_EQ(e->slots[7].log.Count(), 3u);
  EXPECT_EQ(e->slots[7].log.FromOldest(2).value, 28.0f);
}

TEST_F(ExperimentServiceTest, OnlyTheFirstPluginSupportingABurstIsAsked) {
  AddPlugin("Probe");
  AddPlugin("NoFree");
  Start();
  ASSERT_EQ(registry->PluginCount(), 2);
  const bool probeFirst = registry->Plugin(0).DeviceName() == "Probe";
  ASSERT_NE(service->RunBurstExperiment("probe", 5, ClientAddress{}), 0u);
  const float probeAsked = Read("Probe_asked");
  const float noFreeAsked = Read("NoFree_asked");
  if (probeFirst) {
    EXPECT_EQ(probeAsked, 1.0f);
    EXPECT_EQ(noFreeAsked, 0.0f);
    EXPECT_EQ(Read("Probe_frees"), 1.0f);
  } else {
    EXPECT_EQ(noFreeAsked, 1.0f);
    EXPECT_EQ(probeAsked, 0.0f);
    EXPECT_EQ(Read("Probe_frees"), 0.0f);
  }
}

}  // namespace
}  // namespace orvexa::test
