// The experiment and burst requests as a client sees them, over an in-memory
// connection with the Probe device in a real registry: ids and their reuse, refusals
// by the plug-in, bad channel numbers ending the connection, ring and non-ring slots
// read back in windows, listing, and bursts read through the burst slots.
#include <filesystem>
#include <mutex>

#include "base/server_lock.h"
#include "logging/fast_sampler.h"
#include "probe_fixture.h"
#include "protocol/experiment_service.h"
#include "request_harness.h"
#include "sessions/audit_log.h"

namespace orvexa::test {
namespace {

// Channel numbers of the Probe device (registry order = its channel order).
constexpr uint16_t kCounter = 1, kFrees = 2, kOutput = 7, kLevel = 8;

class ExperimentRequestsTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    AddPlugin("Probe");
    ConfigValue* counter = Settings("Probe_counter");
    SetBool(counter, "FastLogEnabled", true);
    SetInt(counter, "FastLogFreq", 1000);
    Discover();
    audit.Open(dir.File("users.log"));
    service = std::make_unique<ExperimentService>(
        *registry, &audit, ExperimentStore::Clock{[this] { return now; }, [this] { return tick; }});
    service->InstallStoppedHandler();
    env.registry = registry.get();
    env.audit = &audit;
    env.experiments = service.get();
  }
  void TearDown() override {
    service.reset();
    audit.Close();
    ProbeTest::TearDown();
  }

  static Request Start(uint32_t owner, uint32_t id, uint32_t capacity, uint32_t argument, bool ring,
                       std::vector<uint16_t> channels) {
    Request r;
    r.U8(13).U32(owner).U32(id).U32(capacity).U32(argument).U8(ring ? 1 : 0);
    r.U16(static_cast<uint16_t>(channels.size()));
    for (uint16_t c : channels) r.U16(c);
    return r;
  }
  static Request ReadExp(uint32_t id, std::vector<std::array<uint32_t, 3>> entries) {
    Request r;
    r.U8(15).U32(id).U32(static_cast<uint32_t>(entries.size()));
    for (auto& e : entries) r.U16(static_cast<uint16_t>(e[0])).U32(e[1]).U32(e[2]);
    return r;
  }
  static Request IsRec(uint32_t id) { return Request().U8(18).U32(id); }
  // One fast sample of every fast-logged channel, as the sampler takes it.
  void SampleCounter(int times) {
    std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
    for (int k = 0; k < times; ++k) {
      FastSampler::FastSample(registry->Channel(0), tick);
      ++tick;
    }
  }
  std::string AuditText() { return dir.Read("users.log"); }

  int64_t now = kStart;
  uint32_t tick = 500;
  AuditLog audit;
  std::unique_ptr<ExperimentService> service;
  ServingEnvironment env;
};

TEST_F(ExperimentRequestsTest, IdsCountUpAndASecondStartStopsTheFirst) {
  RequestRun connection(env, 41);
  Reply reply = connection.Run(Start(5, 0, 100, 0, false, {kCounter}).bytes +
                               Start(5, 0, 100, 0, false, {kCounter}).bytes + IsRec(1).bytes +
                               IsRec(2).bytes);
  EXPECT_EQ(reply.U32(), 1u);
  EXPECT_EQ(reply.U32(), 2u);
  EXPECT_EQ(reply.U8(), 0);  // the first was stopped by the second start
  EXPECT_EQ(reply.U8(), 1);
  EXPECT_EQ(service->Store().Count(), 2u);
  const std::string lines = AuditText();
  EXPECT_NE(lines.find("User 41 started recording of experiment 1\n"), std::string::npos);
  EXPECT_NE(lines.find("User 41 stopped recording of experiment 1\n"), std::string::npos);
  EXPECT_LT(lines.find("stopped recording of experiment 1"),
            lines.find("started recording of experiment 2"));
  EXPECT_EQ(Read("Probe_stops"), 1.0f);  // only the first was stopped with the plug-ins
}

TEST_F(ExperimentRequestsTest, RequestedIdIsUsedAndSkippedLater) {
  RequestRun a(env, 1), b(env, 2), c(env, 3);
  EXPECT_EQ(a.Run(Start(5, 7, 10, 0, false, {kCounter}).bytes).U32(), 7u);
  EXPECT_EQ(b.Run(Start(5, 0, 10, 0, false, {kCounter}).bytes).U32(), 1u);
  for (uint32_t expected = 2; expected <= 6; ++expected) {
    RequestRun next(env, 10 + expected);
    EXPECT_EQ(next.Run(Start(5, 0, 10, 0, false, {kCounter}).bytes).U32(), expected);
  }
  EXPECT_EQ(c.Run(Start(5, 0, 10, 0, false, {kCounter}).bytes).U32(), 8u);
  // Any id but the refusal answer itself: 0xFFFFFFFF is refused and records nothing.
  RequestRun high(env, 4);
  Reply r = high.Run(Start(5, 0x80000000, 10, 0, false, {kCounter}).bytes +
                     Start(5, 0xFFFFFFFF, 10, 0, false, {kCounter}).bytes +
                     IsRec(0xFFFFFFFF).bytes + Request().U8(14).bytes);
  EXPECT_EQ(r.U32(), 0x80000000u);
  EXPECT_EQ(r.U32(), 0xFFFFFFFFu);
  EXPECT_EQ(r.U8(), 0);
  EXPECT_EQ(r.U32(), 0xFFFFFFFFu);  // no recording left to stop
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  EXPECT_FALSE(service->Store().IsRecording(0x80000000));  // stopped by the second start
  EXPECT_EQ(service->Store().Find(0xFFFFFFFF), nullptr);
}

TEST_F(ExperimentRequestsTest, RingAndNonRingSlotsReadInWindows) {
  RequestRun flat(env, 1), ring(env, 2);
  ASSERT_EQ(flat.Run(Start(5, 0, 10, 0, false, {kCounter}).bytes).U32(), 1u);
  ASSERT_EQ(ring.Run(Start(5, 0, 10, 0, true, {kCounter, kCounter}).bytes).U32(), 2u);
  SampleCounter(100);
  RequestRun reader(env, 3);
  Reply r =
      reader.Run(ReadExp(1, {{kCounter, 0, 4}, {kCounter, 4, 100}, {kLevel, 0, 10}}).bytes +
                 ReadExp(2, {{kCounter, 0, 1000}}).bytes + ReadExp(99, {{kCounter, 0, 5}}).bytes);
  ASSERT_EQ(r.U32(), 2u);
  EXPECT_EQ(r.U16(), kCounter);
  EXPECT_EQ(r.U32(), 10u);  // stored
  ASSERT_EQ(r.U32(), 10u);  // both windows' samples, in request order
  for (uint32_t s = 0; s < 10; ++s) {
    EXPECT_EQ(r.U32(), s);
    EXPECT_EQ(r.U32(), s * 100u);  // relative to the start tick x 100
    EXPECT_EQ(r.F32(), static_cast<float>(s + 1));
  }
  EXPECT_EQ(r.U16(), kLevel);
  EXPECT_EQ(r.U32(), 0xFFFFFFFFu);  // not part of the experiment
  EXPECT_EQ(r.U32(), 0u);
  // The ring keeps the newest ten, and a channel listed twice was recorded once.
  ASSERT_EQ(r.U32(), 1u);
  EXPECT_EQ(r.U16(), kCounter);
  EXPECT_EQ(r.U32(), 10u);
  ASSERT_EQ(r.U32(), 10u);
  for (uint32_t s = 90; s < 100; ++s) {
    EXPECT_EQ(r.U32(), s);
    EXPECT_EQ(r.U32(), s * 100u);
    r.F32();
  }
  EXPECT_EQ(r.U32(), 0xFFFFFFFFu);  // no experiment 99
  EXPECT_EQ(r.Left(), 0u);
  EXPECT_NE(AuditText().find("User 3 read data from experiment 1\n"), std::string::npos);
}

TEST_F(ExperimentRequestsTest, CapacityBeyondLimitIsCappedAndZeroRecordsNothing) {
  RequestRun a(env, 1), b(env, 2);
  ASSERT_EQ(a.Run(Start(5, 0, 0xFFFFFFFF, 0, false, {kCounter}).bytes).U32(), 1u);
  ASSERT_EQ(b.Run(Start(5, 0, 0, 0, false, {kCounter}).bytes).U32(), 2u);
  SampleCounter(3);
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  EXPECT_EQ(service->Store().Find(1)->slots[0].log.Capacity(), 30000u);
  EXPECT_EQ(service->Store().Find(1)->slots[0].log.Count(), 3u);
  EXPECT_EQ(service->Store().Find(2)->slots[0].log.Count(), 0u);
}

TEST_F(ExperimentRequestsTest, BadChannelNumbersEndTheConnectionBeforeAnythingStarts) {
  for (uint16_t bad : {uint16_t{0}, uint16_t{10}, kOutput, uint16_t{1001}}) {
    RequestRun connection(env, 1);
    Reply r = connection.Run(Start(5, 0, 10, 0, false, {kCounter, bad}).bytes + IsRec(1).bytes);
    EXPECT_EQ(r.Left(), 0u) << bad;
  }
  EXPECT_EQ(service->Store().Count(), 0u);
  EXPECT_EQ(Read("Probe_starts"), 0.0f);
  RequestRun good(env, 2);
  ASSERT_EQ(good.Run(Start(5, 0, 10, 0, false, {kCounter}).bytes).U32(), 1u);
  for (uint16_t bad : {uint16_t{0}, uint16_t{9 + 1}, kOutput, uint16_t{1000}}) {
    RequestRun reader(env, 3);
    Reply r = reader.Run(ReadExp(1, {{kCounter, 0, 1}, {bad, 0, 1}}).bytes + IsRec(1).bytes);
    EXPECT_EQ(r.Left(), 0u) << bad;
  }
  // A read list longer than any honest client sends ends the connection too.
  RequestRun greedy(env, 4);
  EXPECT_EQ(greedy.Run(Request().U8(15).U32(1).U32(0x7FFFFFFF).bytes + IsRec(1).bytes).Left(), 0u);
}

TEST_F(ExperimentRequestsTest, PluginRefusalsAndStopWithoutRecording) {
  RequestRun connection(env, 6);
  Reply r = connection.Run(Start(5, 0, 10, 1, false, {kCounter}).bytes +  // refused
                           Request().U8(14).bytes +                       // nothing to stop
                           Start(5, 0, 10, 2, false, {kCounter}).bytes +  // next stop refused
                           Request().U8(14).bytes + IsRec(2).bytes + Request().U8(14).bytes +
                           IsRec(2).bytes);
  EXPECT_EQ(r.U32(), 0xFFFFFFFFu);
  EXPECT_EQ(r.U32(), 0xFFFFFFFFu);
  EXPECT_EQ(r.U32(), 2u);  // id 1 was taken by the refused start and stays used
  EXPECT_EQ(r.U32(), 0xFFFFFFFFu);
  EXPECT_EQ(r.U8(), 1);  // still recording
  EXPECT_EQ(r.U32(), 2u);
  EXPECT_EQ(r.U8(), 0);
  EXPECT_EQ(service->Store().Find(1), nullptr);
  EXPECT_NE(AuditText().find("User 6 stopped recording of experiment 2\n"), std::string::npos);
}

TEST_F(ExperimentRequestsTest, StartRefusedWhilePreviousStopIsRefusedKeepsThePrevious) {
  RequestRun connection(env, 6);
  Reply r = connection.Run(Start(5, 0, 10, 2, false, {kCounter}).bytes +
                           Start(5, 0, 10, 0, false, {kCounter}).bytes + IsRec(1).bytes);
  EXPECT_EQ(r.U32(), 1u);
  EXPECT_EQ(r.U32(), 0xFFFFFFFFu);
  EXPECT_EQ(r.U8(), 1);
  EXPECT_EQ(service->Store().Count(), 1u);
}

TEST_F(ExperimentRequestsTest, ListSelectsByOwnerAndIdRange) {
  for (uint32_t id : {3u, 10u, 11u, 12u, 13u}) {
    RequestRun c(env, id);
    now = kStart + id;
    ASSERT_EQ(c.Run(Start(id == 11 ? 6 : 5, id, 10, 0, false, {kCounter}).bytes).U32(), id);
  }
  RequestRun lister(env, 99);
  Reply r = lister.Run(Request().U8(16).U32(5).U32(10).U32(0).bytes +
                       Request().U8(16).U32(5).U32(10).U32(12).bytes);
  ASSERT_EQ(r.U32(), 3u);
  for (uint32_t id : {10u, 12u, 13u}) {
    EXPECT_EQ(r.U32(), id);
    EXPECT_EQ(r.U8(), 1);
    EXPECT_EQ(r.U32(), kStart + id);
    EXPECT_EQ(r.U32(), kStart + id);
    EXPECT_EQ(r.U32(), 0x0A000009u);  // the client address 10.0.0.9
  }
  ASSERT_EQ(r.U32(), 2u);
  EXPECT_EQ(r.U32(), 10u);
  r.U8(), r.U32(), r.U32(), r.U32();
  EXPECT_EQ(r.U32(), 12u);
}

TEST_F(ExperimentRequestsTest, BurstReadBackThroughTheBurstSlots) {
  RequestRun connection(env, 8);
  std::vector<std::array<uint32_t, 3>> columns;
  for (uint32_t number = 1008; number >= 1001; --number) columns.push_back({number, 0, 100});
  columns.push_back({2000, 0, 100});  // slot 999: far beyond the experiment's slots
  Reply r = connection.Run(
      Request().U8(3).Str("burst_5").bytes + Request().U8(17).Str("probe").U32(100).bytes +
      ReadExp(1, columns).bytes + IsRec(1).bytes + Request().U8(16).U32(0).U32(0).U32(0).bytes);
  EXPECT_EQ(r.U16(), 1006);
  ASSERT_EQ(r.U32(), 1u);
  ASSERT_EQ(r.U32(), 9u);
  // In ascending channel number: column s of every burst sample, times relative to the
  // first sample.
  for (uint32_t s = 0; s < 8; ++s) {
    EXPECT_EQ(r.U16(), 1001 + s);
    EXPECT_EQ(r.U32(), 100u);
    ASSERT_EQ(r.U32(), 100u);
    for (uint32_t i = 0; i < 100; ++i) {
      EXPECT_EQ(r.U32(), i);
      EXPECT_EQ(r.U32(), 10 * i);
      EXPECT_EQ(r.F32(), static_cast<float>(1000 * s + i));
    }
  }
  EXPECT_EQ(r.U16(), 2000);  // beyond the slots: not part of it, nothing read past them
  EXPECT_EQ(r.U32(), 0xFFFFFFFFu);
  EXPECT_EQ(r.U32(), 0u);
  EXPECT_EQ(r.U8(), 0);
  ASSERT_EQ(r.U32(), 1u);  // bursts are listed under owner key 0
  EXPECT_EQ(r.U32(), 1u);
  EXPECT_NE(AuditText().find("User 8 started burts experiment probe with duration 100. Result "
                             "is stored as 1\n"),
            std::string::npos);
  EXPECT_EQ(Read("Probe_frees"), 1.0f);
}

TEST_F(ExperimentRequestsTest, UnknownOrFailingBurstEndsTheConnectionWithoutReply) {
  for (const char* name : {"nothing", "probe_fail", ""}) {
    RequestRun connection(env, 8);
    Reply r = connection.Run(Request().U8(17).Str(name).U32(10).bytes + IsRec(1).bytes);
    EXPECT_EQ(r.Left(), 0u) << name;
  }
  EXPECT_EQ(service->Store().Count(), 0u);
  EXPECT_EQ(AuditText().find("burts"), std::string::npos);
  std::lock_guard<PriorityInheritanceMutex> hold(ServerLock());
  EXPECT_EQ(service->Store().NewId(), 1u);
}

}  // namespace
}  // namespace orvexa::test
