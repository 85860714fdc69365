// Selecting fast samples: the last n, all since a sequence number, the maximum, and the
// newest sequence number that lets a client poll without gaps.
#include "logging/fast_sample_query.h"

#include <gtest/gtest.h>

namespace orvexa {
namespace {

std::vector<uint32_t> Sequences(const FastSampleSelection& s) {
  std::vector<uint32_t> out;
  for (const auto& sample : s.samples) out.push_back(sample.sequence);
  return out;
}

SampleLog Filled(uint32_t capacity, uint32_t appends) {
  SampleLog log(capacity, true);
  for (uint32_t k = 0; k < appends; ++k) log.Append(1000 + k, static_cast<float>(k));
  return log;
}

TEST(FastSampleQueryTest, LastNNewestFirstCappedByMaximumAndBuffer) {
  SampleLog log = Filled(50, 120);  // sequences 70..119
  FastSampleSelection s = SelectFastSamples(log, 0, 5, 2);
  EXPECT_EQ(Sequences(s), (std::vector<uint32_t>{119, 118}));
  EXPECT_EQ(s.newest, 119u);
  EXPECT_EQ(s.samples[0].time, 1119u);
  EXPECT_EQ(SelectFastSamples(log, 0, 5, 0).samples.size(), 5u);
  EXPECT_EQ(SelectFastSamples(log, 0, 0xFFFFFFFF, 0).samples.size(), 50u);
  EXPECT_EQ(SelectFastSamples(log, 0, 0, 0).samples.size(), 0u);
}

TEST(FastSampleQueryTest, SinceSequenceStopsAtTheFirstOlderSample) {
  SampleLog log = Filled(50, 120);
  EXPECT_EQ(Sequences(SelectFastSamples(log, kFastSamplesSince, 117, 0)),
            (std::vector<uint32_t>{119, 118, 117}));
  EXPECT_EQ(SelectFastSamples(log, kFastSamplesSince, 0, 0).samples.size(), 50u);
  EXPECT_EQ(SelectFastSamples(log, kFastSamplesSince, 0, 7).samples.size(), 7u);
  FastSampleSelection beyond = SelectFastSamples(log, kFastSamplesSince, 120, 0);
  EXPECT_TRUE(beyond.samples.empty());
  // Polling: next X = newest + 1 picks up exactly the new samples.
  FastSampleSelection first = SelectFastSamples(log, kFastSamplesSince, 0, 0);
  for (uint32_t k = 0; k < 3; ++k) log.Append(0, 0.0f);
  EXPECT_EQ(Sequences(SelectFastSamples(log, kFastSamplesSince | kFastSamplesWithTime,
                                        first.newest + 1, 0)),
            (std::vector<uint32_t>{122, 121, 120}));
}

// A client polling for days sees the sequence numbers wrap: the sample numbered 0 comes
// after 0xFFFFFFFF, and newest + 1 = 0 still asks for what is new.
TEST(FastSampleQueryTest, SinceSequenceAcrossTheWrap) {
  EXPECT_TRUE(SequenceAtOrAfter(0, 0xFFFFFFFF));
  EXPECT_TRUE(SequenceAtOrAfter(5, 0xFFFFFFF0));
  EXPECT_TRUE(SequenceAtOrAfter(0x7FFFFFFF, 0));
  EXPECT_FALSE(SequenceAtOrAfter(0xFFFFFFFF, 0));  // newest + 1 = 0: nothing new yet
  EXPECT_FALSE(SequenceAtOrAfter(0x80000000, 0));
  EXPECT_FALSE(SequenceAtOrAfter(0xFFFFFFF0, 5));
}

TEST(FastSampleQueryTest, EmptyBufferGivesNothing) {
  SampleLog log(10, true);
  EXPECT_TRUE(SelectFastSamples(log, 0, 5, 0).samples.empty());
  EXPECT_TRUE(SelectFastSamples(log, kFastSamplesSince, 0, 0).samples.empty());
  EXPECT_EQ(SelectFastSamples(log, 0, 5, 0).newest, 0u);
}

}  // namespace
}  // namespace orvexa
