// Collecting experiment data for the read request: windows by sequence number (checked
// against a plain scan, including windows that wrap the 32-bit circle), shared results
// for a channel number asked twice, slots outside the experiment, and the sample limit.
#include "protocol/experiment_read.h"

#include <gtest/gtest.h>

#include <random>

namespace orvexa {
namespace {

Experiment MakeExperiment(size_t slots) {
  Experiment e;
  e.slots = std::vector<ExperimentChannel>(slots);
  return e;
}

std::vector<uint32_t> Sequences(const ExperimentReadResult& r) {
  std::vector<uint32_t> out;
  for (const auto& s : r.samples) out.push_back(s.sequence);
  return out;
}

TEST(ExperimentReadTest, ChannelNumbersMapToSlots) {
  EXPECT_EQ(SlotOfChannelNumber(1), 0u);
  EXPECT_EQ(SlotOfChannelNumber(1000), 999u);
  EXPECT_EQ(SlotOfChannelNumber(1001), 0u);
  EXPECT_EQ(SlotOfChannelNumber(1008), 7u);
  EXPECT_EQ(SlotOfChannelNumber(65535), 64534u);
}

TEST(ExperimentReadTest, WindowsSharedResultsAndSlotsOutsideTheExperiment) {
  Experiment e = MakeExperiment(3);
  e.slots[1].selected = true;
  e.slots[1].log = SampleLog(30, false);
  for (uint32_t k = 0; k < 20; ++k) e.slots[1].log.Append(k, static_cast<float>(k));

  std::vector<ExperimentReadResult> results;
  ASSERT_TRUE(CollectExperimentData(e, {{2, 5, 3}, {1, 0, 10}, {2, 15, 100}, {3, 0, 5}}, &results));
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].channelNumber, 1);  // ascending channel numbers
  EXPECT_EQ(results[0].stored, kNotInExperiment);
  EXPECT_TRUE(results[0].samples.empty());
  EXPECT_EQ(results[1].channelNumber, 2);
  EXPECT_EQ(results[1].stored, 20u);
  EXPECT_EQ(Sequences(results[1]), (std::vector<uint32_t>{5, 6, 7, 15, 16, 17, 18, 19}));
  EXPECT_EQ(results[2].stored, kNotInExperiment);
}

TEST(ExperimentReadTest, BurstSlotBeyondTheSlotsAnswersNotInExperiment) {
  Experiment e = MakeExperiment(8);
  for (auto& slot : e.slots) {
    slot.selected = true;
    slot.log.Append(1, 1.0f);
  }
  std::vector<ExperimentReadResult> results;
  ASSERT_TRUE(CollectExperimentData(e, {{1008, 0, 10}, {1009, 0, 10}, {65535, 0, 10}}, &results));
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].stored, 1u);
  EXPECT_EQ(results[1].stored, kNotInExperiment);
  EXPECT_TRUE(results[1].samples.empty());
  EXPECT_EQ(results[2].stored, kNotInExperiment);
  // An experiment without slots (every number is outside it).
  Experiment empty;
  ASSERT_TRUE(CollectExperimentData(empty, {{1, 0, 10}}, &results));
  EXPECT_EQ(results[0].stored, kNotInExperiment);
}

TEST(ExperimentReadTest, WindowsMatchAPlainScanIncludingWrappingWindows) {
  std::mt19937 random(3);
  for (int round = 0; round < 2000; ++round) {
    Experiment e = MakeExperiment(1);
    e.slots[0].selected = true;
    e.slots[0].log = SampleLog(1 + random() % 12, random() % 2 == 0);
    const int appends = random() % 40;
    for (int k = 0; k < appends; ++k) e.slots[0].log.Append(k, 0.0f);
    const uint32_t candidates[] = {0u, 1u, 5u, 20u, 39u, 0xFFFFFFF0u, 0x80000000u, 0xFFFFFFFFu};
    ExperimentReadEntry entry{1, candidates[random() % 8] + static_cast<uint32_t>(random() % 3),
                              candidates[random() % 8] - static_cast<uint32_t>(random() % 3)};
    std::vector<uint32_t> expected;
    for (const auto& s : e.slots[0].log)
      if (s.sequence - entry.first < entry.count) expected.push_back(s.sequence);
    std::vector<ExperimentReadResult> results;
    ASSERT_TRUE(CollectExperimentData(e, {entry}, &results));
    ASSERT_EQ(Sequences(results[0]), expected) << entry.first << " " << entry.count;
  }
}

TEST(ExperimentReadTest, StopsAtTheSampleLimit) {
  Experiment e = MakeExperiment(1);
  e.slots[0].selected = true;
  for (uint32_t k = 0; k < 100; ++k) e.slots[0].log.Append(k, 0.0f);
  std::vector<ExperimentReadEntry> entries(50, ExperimentReadEntry{1, 0, 100});
  std::vector<ExperimentReadResult> results;
  EXPECT_TRUE(CollectExperimentData(e, entries, &results, 5000));
  EXPECT_EQ(results[0].samples.size(), 5000u);
  EXPECT_FALSE(CollectExperimentData(e, entries, &results, 4999));
}

}  // namespace
}  // namespace orvexa
