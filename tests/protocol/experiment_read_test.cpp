// Collecting experiment data for the read request: windows by sequence number (checked
// against a plain scan, including windows that wrap the 32-bit circle), shared results
// for a channel number asked twice, slots outside the experiment, the sample limit, and
// the reply streamed in bounded pieces as the read was taken.
#include "protocol/experiment_read.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Records what a reader hands out, and the size of each piece.
struct RecordingSink : ExperimentReader::Sink {
  void BeginResult(uint16_t channelNumber, uint32_t stored, uint32_t sampleCount) override {
    results.push_back({channelNumber, stored, {}});
    announced.push_back(sampleCount);
  }
  void Samples(const SampleLog::Sample* samples, size_t count) override {
    results.back().samples.insert(results.back().samples.end(), samples, samples + count);
    largestPiece = std::max(largestPiece, count);
  }
  std::vector<ExperimentReadResult> results;
  std::vector<uint32_t> announced;
  size_t largestPiece = 0;
};

// The reply is the read as it was taken: samples appended afterwards are not part of
// it, a ring slot of a running recording leaves out what it dropped meanwhile (and its
// announced count says so), and a large finished slot reaches the sink in pieces of at
// most one slot through a buffer that never grows beyond that.
TEST(ExperimentReadTest, ReplyIsTheReadAsTakenInBoundedPieces) {
  Experiment e = MakeExperiment(2);
  e.recording = true;
  e.slots[0].selected = true;
  e.slots[0].log = SampleLog(100, false);
  e.slots[1].selected = true;
  e.slots[1].log = SampleLog(10, true);
  auto append = [&](uint32_t from, uint32_t to) {
    for (uint32_t k = from; k < to; ++k)
      for (auto& slot : e.slots) slot.log.Append(k, static_cast<float>(k));
  };
  append(0, 20);  // slot 0 holds 0..19, the ring slot 10..19
  ExperimentReader reader(e, {{2, 0, 1000}, {1, 0, 1000}, {2, 12, 2}});
  EXPECT_EQ(reader.ResultCount(), 2u);
  EXPECT_EQ(reader.SampleCount(), 20u + 10u + 2u);
  append(20, 24);  // slot 0 holds 0..23, the ring slot 14..23
  RecordingSink sink;
  std::vector<SampleLog::Sample> buffer;
  reader.Stream(sink, buffer);
  ASSERT_EQ(sink.results.size(), 2u);
  EXPECT_EQ(sink.results[0].stored, 20u);
  EXPECT_EQ(sink.announced[0], 20u);
  EXPECT_EQ(Sequences(sink.results[0]).back(), 19u);
  EXPECT_EQ(sink.results[1].stored, 10u);
  EXPECT_EQ(sink.announced[1], 6u);
  EXPECT_EQ(Sequences(sink.results[1]), (std::vector<uint32_t>{14, 15, 16, 17, 18, 19}));

  Experiment burst = MakeExperiment(1);
  burst.slots[0].selected = true;
  burst.slots[0].log = SampleLog(70000, false);
  for (uint32_t k = 0; k < 70000; ++k) burst.slots[0].log.Append(k, 0.0f);
  RecordingSink whole;
  std::vector<SampleLog::Sample> pieces;
  ExperimentReader(burst, {{1001, 0, 70000}, {1001, 69990, 100}}).Stream(whole, pieces);
  ASSERT_EQ(whole.announced, std::vector<uint32_t>{70010});
  const std::vector<uint32_t> sequences = Sequences(whole.results[0]);
  ASSERT_EQ(sequences.size(), 70010u);
  for (uint32_t k = 0; k < 70000; ++k) ASSERT_EQ(sequences[k], k);
  EXPECT_EQ(sequences[70000], 69990u);
  EXPECT_LE(whole.largestPiece, ExperimentReader::kChunkSamples);
  EXPECT_LE(pieces.capacity(), ExperimentReader::kChunkSamples);
}

}  // namespace
}  // namespace orvexa
