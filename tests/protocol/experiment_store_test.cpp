// The experiment store on its own: ids and their reuse, slots attached to and detached
// from the channels' recordings lists, ring and non-ring slots, eviction of the oldest
// experiment at 101 and the recording map kept in step with it.
#include "protocol/experiment_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace orvexa {
namespace {

// Recordings lists of a registry of `channels` channels.
class FakeTargets : public RecordingTargets {
 public:
  explicit FakeTargets(size_t channels) : lists(channels) {}
  size_t ChannelCount() const override { return lists.size(); }
  void Attach(size_t index, SampleLog* log) override { lists.at(index).push_back(log); }
  void Detach(size_t index, SampleLog* log) override { std::erase(lists.at(index), log); }
  // What the fast sampler does for one sample of channel `index`.
  void Sample(size_t index, uint32_t time, float value) {
    for (SampleLog* log : lists.at(index)) log->Append(time, value);
  }
  size_t Attached() const {
    size_t total = 0;
    for (const auto& list : lists) total += list.size();
    return total;
  }
  std::vector<std::vector<SampleLog*>> lists;
};

class ExperimentStoreTest : public ::testing::Test {
 protected:
  ExperimentStoreTest()
      : targets(4), store(targets, {[this] { return now; }, [this] { return tick; }}) {}

  uint32_t Start(std::vector<size_t> channels, uint32_t id = 0, uint32_t capacity = 100,
                 bool ring = false, uint32_t owner = 5) {
    return store.Create(owner, id, capacity, ring, channels, ClientAddress{10, 0, 0, 7});
  }
  std::vector<uint32_t> Sequences(const SampleLog& log) {
    std::vector<uint32_t> out;
    for (const auto& sample : log) out.push_back(sample.sequence);
    return out;
  }

  int64_t now = 1'700'000'000;
  uint32_t tick = 1000;
  FakeTargets targets;
  ExperimentStore store;
};

TEST_F(ExperimentStoreTest, IdsCountUpAndSkipIdsInUse) {
  EXPECT_EQ(Start({0}), 1u);
  EXPECT_EQ(Start({0}), 2u);
  EXPECT_EQ(Start({0}, 4), 4u);
  EXPECT_EQ(Start({0}), 3u);
  EXPECT_EQ(Start({0}), 5u);  // 4 is taken
  EXPECT_EQ(store.NewId(), 6u);
  EXPECT_EQ(store.NewId(), 7u);  // ids handed out are not reused even when unused
}

TEST_F(ExperimentStoreTest, CreateRecordsSelectedChannelsFromTheStartTick) {
  const uint32_t id = Start({1, 3});
  std::shared_ptr<Experiment> e = store.Find(id);
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(e->recording);
  EXPECT_TRUE(store.IsRecording(id));
  EXPECT_EQ(e->slots.size(), 4u);
  EXPECT_FALSE(e->slots[0].selected);
  EXPECT_TRUE(e->slots[1].selected);
  EXPECT_TRUE(e->slots[3].selected);
  EXPECT_EQ(e->startTime, now);
  EXPECT_EQ(e->stopTime, now);
  EXPECT_EQ(e->startTick, 100000u);
  EXPECT_EQ(e->ownerKey, 5u);
  EXPECT_EQ(e->clientAddress, (ClientAddress{10, 0, 0, 7}));
  EXPECT_EQ(targets.lists[1], std::vector<SampleLog*>{&e->slots[1].log});
  EXPECT_TRUE(targets.lists[0].empty());

  now += 30;
  store.Finish(id);
  EXPECT_FALSE(e->recording);
  EXPECT_EQ(e->stopTime, now);
  EXPECT_EQ(targets.Attached(), 0u);
  store.Finish(id);  // stopping twice only moves the stop time
  store.Finish(999);
  EXPECT_FALSE(store.IsRecording(999));
}

TEST_F(ExperimentStoreTest, StartTickWrapsModulo32Bits) {
  tick = 0x7FFFFFFF;
  const uint32_t id = Start({0});
  EXPECT_EQ(store.Find(id)->startTick, static_cast<uint32_t>(0x7FFFFFFFull * 100));
}

TEST_F(ExperimentStoreTest, ChannelListedTwiceIsRecordedOnceAndFullyDetached) {
  const uint32_t id = Start({2, 2, 2});
  for (int k = 0; k < 5; ++k) targets.Sample(2, k, 1.0f);
  EXPECT_EQ(store.Find(id)->slots[2].log.Count(), 5u);
  store.Finish(id);
  EXPECT_EQ(targets.Attached(), 0u);
  targets.Sample(2, 9, 1.0f);
  EXPECT_EQ(store.Find(id)->slots[2].log.Count(), 5u);
}

TEST_F(ExperimentStoreTest, RingAndNonRingSlotsKeepTheirEnds) {
  const uint32_t flat = Start({0}, 0, 10, false);
  const uint32_t ring = Start({0}, 0, 10, true);
  const uint32_t none = Start({0}, 0, 0, true);
  for (uint32_t k = 0; k < 100; ++k) targets.Sample(0, k * 100, static_cast<float>(k));
  const SampleLog& flatLog = store.Find(flat)->slots[0].log;
  const SampleLog& ringLog = store.Find(ring)->slots[0].log;
  EXPECT_EQ(flatLog.Count(), 10u);
  EXPECT_EQ(Sequences(flatLog).front(), 0u);
  EXPECT_EQ(Sequences(flatLog).back(), 9u);
  EXPECT_EQ(ringLog.Count(), 10u);
  EXPECT_EQ(Sequences(ringLog).front(), 90u);
  EXPECT_EQ(Sequences(ringLog).back(), 99u);
  EXPECT_EQ(store.Find(none)->slots[0].log.Count(), 0u);
}

TEST_F(ExperimentStoreTest, ReusedIdReplacesTheExperimentAndItsOldMapping) {
  const uint32_t id = Start({0, 1}, 7);
  store.SetRecordingOf(/*serial=*/11, id);
  targets.Sample(0, 1, 1.0f);
  now += 10;
  EXPECT_EQ(Start({3}, 7, 50, true, 9), 7u);
  std::shared_ptr<Experiment> e = store.Find(7);
  EXPECT_EQ(store.Count(), 1u);
  EXPECT_EQ(e->ownerKey, 9u);
  EXPECT_FALSE(e->slots[0].selected);
  EXPECT_EQ(e->slots[0].log.Count(), 0u);
  EXPECT_TRUE(e->slots[3].selected);
  EXPECT_EQ(targets.Attached(), 1u);
  EXPECT_EQ(e->startTime, now);
  // Connection 11 no longer records: stopping it later must not stop the new owner's.
  EXPECT_EQ(store.RecordingOf(11), 0u);
  EXPECT_EQ(store.NewId(), 1u);
  EXPECT_EQ(store.NewId(), 2u);
}

TEST_F(ExperimentStoreTest, The101stRemovesTheOldestStartEvenWhileRecording) {
  // Ids 1..100 with start times descending from id 1, except ids 50 and 51 share the
  // oldest time: the lower id goes first.
  for (uint32_t k = 1; k <= 100; ++k) {
    now = 2'000'000 - k;
    if (k == 51) now = 2'000'000 - 50;
    Start({k % 4});
    store.SetRecordingOf(1000 + k, k);
  }
  for (uint32_t k = 1; k <= 49; ++k) store.Finish(k);
  now = 3'000'000;
  // 100 is the oldest and still recording.
  EXPECT_TRUE(store.IsRecording(100));
  EXPECT_EQ(Start({0}), 101u);
  EXPECT_EQ(store.Count(), 100u);
  EXPECT_EQ(store.Find(100), nullptr);
  EXPECT_EQ(store.RecordingOf(1100), 0u);
  // Its slot left the recordings list; the other 50 running ones (50..99) and the new
  // one stay attached.
  EXPECT_EQ(targets.Attached(), 51u);
  EXPECT_EQ(Start({0}), 102u);
  EXPECT_EQ(store.Find(99), nullptr);
  EXPECT_EQ(Start({0}), 103u);
  EXPECT_EQ(store.Find(98), nullptr);
  EXPECT_EQ(store.Find(1) != nullptr, true);
  // A caller holding ServerLock gets the evicted experiment's last reference, to free
  // its samples once its locks are released.
  ExperimentStore::Dropped dropped;
  EXPECT_EQ(store.Create(5, 0, 100, false, {0}, ClientAddress{10, 0, 0, 7}, &dropped), 104u);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0]->id, 97u);
  EXPECT_EQ(dropped[0].use_count(), 1);
}

TEST_F(ExperimentStoreTest, EqualStartTimesAreEvictedInIdOrder) {
  for (int k = 0; k < 100; ++k) Start({0});
  EXPECT_EQ(Start({0}), 101u);
  EXPECT_EQ(store.Find(1), nullptr);
  EXPECT_NE(store.Find(2), nullptr);
}

TEST_F(ExperimentStoreTest, FinishedBurstsDoNotRecordAndKeepTheStoreBounded) {
  auto Burst = [] {
    auto burst = std::make_shared<Experiment>();
    burst->slots = std::vector<ExperimentChannel>(8);
    return burst;
  };
  const uint32_t id = store.AddFinished(Burst());
  EXPECT_EQ(id, 1u);
  EXPECT_FALSE(store.Find(id)->recording);
  EXPECT_EQ(store.Find(id)->slots.size(), 8u);
  EXPECT_FALSE(store.IsRecording(id));
  for (int k = 0; k < 150; ++k) store.AddFinished(Burst());
  EXPECT_EQ(store.Count(), 100u);
  EXPECT_EQ(targets.Attached(), 0u);
}

TEST(RecordingMapTest, OneEntryPerConnection) {
  RecordingMap map;
  EXPECT_EQ(map.Lookup(1), 0u);
  map.Set(1, 10);
  map.Set(1, 11);
  map.Set(2, 11);
  map.Set(3, 12);
  EXPECT_EQ(map.Lookup(1), 11u);
  map.RemoveExperiment(11);
  EXPECT_EQ(map.Size(), 1u);
  EXPECT_EQ(map.Lookup(3), 12u);
  map.Remove(3);
  EXPECT_EQ(map.Size(), 0u);
}

}  // namespace
}  // namespace orvexa
