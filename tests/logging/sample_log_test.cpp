#include "logging/sample_log.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orvexa {
namespace {

std::vector<uint32_t> Sequences(const SampleLog& log) {
  std::vector<uint32_t> result;
  for (const SampleLog::Sample& sample : log) result.push_back(sample.sequence);
  return result;
}

TEST(SampleLogTest, FullQueueRefusesOrDropsOldestByMode) {
  SampleLog kept(10, false);
  SampleLog ring(10, true);
  for (uint32_t i = 0; i < 100; ++i) {
    kept.Append(i * 2, static_cast<float>(i));
    ring.Append(i * 2, static_cast<float>(i));
  }
  EXPECT_EQ(kept.Count(), 10u);
  EXPECT_EQ(kept.NextSequence(), 10u);
  EXPECT_EQ(kept.FromOldest(0).sequence, 0u);
  EXPECT_EQ(kept.FromNewest(0).sequence, 9u);
  EXPECT_EQ(kept.FromNewest(0).time, 18u);

  EXPECT_EQ(ring.Count(), 10u);
  EXPECT_EQ(ring.NextSequence(), 100u);
  EXPECT_EQ(ring.OldestSequence(), 90u);
  std::vector<uint32_t> expected;
  for (uint32_t s = 90; s < 100; ++s) expected.push_back(s);
  EXPECT_EQ(Sequences(ring), expected);
  EXPECT_EQ(ring.FromOldest(0).value, 90.0f);
  EXPECT_EQ(ring.FromNewest(0).value, 99.0f);
}

TEST(SampleLogTest, CapacityZeroStoresNothing) {
  SampleLog ring(0, true);
  SampleLog kept(0, false);
  for (int i = 0; i < 5; ++i) {
    ring.Append(1, 1.0f);
    kept.Append(1, 1.0f);
  }
  EXPECT_EQ(ring.Count(), 0u);
  EXPECT_EQ(ring.NextSequence(), 5u);  // sequence numbers still used up
  EXPECT_EQ(kept.Count(), 0u);
  EXPECT_EQ(kept.NextSequence(), 0u);
}

TEST(SampleLogTest, LoweredCapacityTakesEffectAtNextAppendKeepingNewest) {
  SampleLog ring;  // 10000, ring
  for (uint32_t i = 0; i < 10000; ++i) ring.Append(i, static_cast<float>(i));
  ring.SetCapacity(100);
  EXPECT_EQ(ring.Count(), 10000u);  // not yet
  ring.Append(10000, 10000.0f);
  ASSERT_EQ(ring.Count(), 100u);
  EXPECT_EQ(ring.FromOldest(0).sequence, 9901u);
  EXPECT_EQ(ring.FromNewest(0).sequence, 10000u);
}

TEST(SampleLogTest, DroppingOldestKeepsOtherSamplesInPlace) {
  SampleLog ring(1000, true);
  for (uint32_t i = 0; i < 1000; ++i) ring.Append(i, 0.0f);
  const SampleLog::Sample* newest = &ring.FromNewest(0);
  for (uint32_t i = 0; i < 500; ++i) ring.Append(i, 0.0f);
  // The sample that was newest is still where it was (blocks, not one moving array).
  EXPECT_EQ(newest->sequence, 999u);
  EXPECT_EQ(&ring.FromNewest(500), newest);
}

TEST(SampleLogTest, ResetAndSequenceWrap) {
  SampleLog ring(3, true);
  ring.Append(1, 1.0f);
  ring.Reset();
  EXPECT_EQ(ring.Count(), 0u);
  EXPECT_EQ(ring.NextSequence(), 0u);
  EXPECT_EQ(ring.Capacity(), 3u);
  ring.Append(7, std::nanf(""));
  EXPECT_EQ(ring.FromOldest(0).sequence, 0u);
  EXPECT_EQ(ring.FromOldest(0).time, 7u);
}

}  // namespace
}  // namespace orvexa
