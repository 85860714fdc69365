#include "logging/fast_schedule.h"

#include <gtest/gtest.h>

namespace orvexa {
namespace {

int64_t fakeNow = 5000;
bool fakeReadable = true;
bool FakeCounter(int64_t* now) {
  *now = fakeNow;
  return fakeReadable;
}

// Channels and plug-ins are only stored as pointers here; any distinct addresses do.
LoggedChannel* ChannelAt(int n) {
  return reinterpret_cast<LoggedChannel*>(0x1000 + 16 * n);
}
TickReceiver* PluginAt(int n) {
  return reinterpret_cast<TickReceiver*>(0x9000 + 16 * n);
}

std::vector<int> ActiveFrequencies(const FastSchedule& schedule) {
  std::vector<int> result;
  for (FrequencyGroup* g = schedule.FirstActive(); g != nullptr; g = g->nextActive) {
    result.push_back(g->frequency);
  }
  return result;
}

class FastScheduleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 5000;
    fakeReadable = true;
  }
  FastSchedule schedule{1000000000, FakeCounter};
};

TEST(FastScheduleClampTest, FrequenciesOutsideTheRangeAreClamped) {
  EXPECT_EQ(FastSchedule::ClampFrequency(0), 1);
  EXPECT_EQ(FastSchedule::ClampFrequency(-7), 1);
  EXPECT_EQ(FastSchedule::ClampFrequency(1), 1);
  EXPECT_EQ(FastSchedule::ClampFrequency(3999), 3999);
  EXPECT_EQ(FastSchedule::ClampFrequency(4000), 3999);
  EXPECT_EQ(FastSchedule::ClampFrequency(5000), 3999);
  EXPECT_EQ(FastSchedule::ClampFrequency(4294967295ll), 3999);  // a u32 tick frequency
}

TEST(FastSchedulePrepareTest, NoCounterMeansNoFastSampling) {
  FastSchedule none(0, FakeCounter);
  EXPECT_FALSE(none.PrepareFastSchedule());
  EXPECT_FALSE(none.Prepared());
  FastSchedule real;
  ASSERT_TRUE(real.PrepareFastSchedule());
  EXPECT_EQ(real.Group(1).period, 1000000000);
  EXPECT_EQ(real.Group(3999).period, 250062);
  EXPECT_EQ(real.Group(100).nextDue, 0);
  int64_t now = 0;
  EXPECT_TRUE(real.ReadCounter(&now));
  EXPECT_GT(now, 0);
}

TEST_F(FastScheduleTest, GroupsShareAFrequencyAndActivateMostRecentFirst) {
  ASSERT_TRUE(schedule.PrepareFastSchedule());
  EXPECT_FALSE(schedule.HasActiveGroups());
  EXPECT_TRUE(schedule.AddChannelToGroup(ChannelAt(1), 100));
  fakeNow = 6000;
  EXPECT_TRUE(schedule.AddChannelToGroup(ChannelAt(2), 100));  // same group, already active
  EXPECT_EQ(schedule.Group(100).nextDue, 5000);                // due from its activation
  EXPECT_TRUE(schedule.AddChannelToGroup(ChannelAt(3), 0));    // the 1 Hz group
  EXPECT_TRUE(schedule.AddPluginToGroup(PluginAt(1), 5000));   // the 3999 Hz group
  EXPECT_EQ(ActiveFrequencies(schedule), (std::vector<int>{3999, 1, 100}));
  EXPECT_EQ(schedule.Group(100).channels,
            (std::vector<LoggedChannel*>{ChannelAt(1), ChannelAt(2)}));
  EXPECT_EQ(schedule.Group(1).channels, (std::vector<LoggedChannel*>{ChannelAt(3)}));
  EXPECT_EQ(schedule.Group(3999).plugins, (std::vector<TickReceiver*>{PluginAt(1)}));
  EXPECT_EQ(schedule.Group(3999).nextDue, 6000);
}

TEST_F(FastScheduleTest, RemovingTheLastEntryDeactivatesOnlyThatGroup) {
  schedule.PrepareFastSchedule();
  schedule.AddChannelToGroup(ChannelAt(1), 10);
  schedule.AddChannelToGroup(ChannelAt(2), 20);
  schedule.AddChannelToGroup(ChannelAt(3), 30);
  schedule.AddChannelToGroup(ChannelAt(4), 20);
  schedule.RemoveChannelFromGroup(ChannelAt(2), 20);
  EXPECT_EQ(ActiveFrequencies(schedule), (std::vector<int>{30, 20, 10}));
  schedule.RemoveChannelFromGroup(ChannelAt(9), 20);  // not there: nothing
  schedule.RemoveChannelFromGroup(ChannelAt(4), 20);  // middle of the list
  EXPECT_EQ(ActiveFrequencies(schedule), (std::vector<int>{30, 10}));
  schedule.RemoveChannelFromGroup(ChannelAt(3), 30);  // head of the list
  EXPECT_EQ(ActiveFrequencies(schedule), (std::vector<int>{10}));
  schedule.RemoveChannelFromGroup(ChannelAt(1), 10);
  EXPECT_FALSE(schedule.HasActiveGroups());
  // Reactivation puts the group back at the front.
  schedule.AddChannelToGroup(ChannelAt(1), 20);
  schedule.AddChannelToGroup(ChannelAt(1), 10);
  EXPECT_EQ(ActiveFrequencies(schedule), (std::vector<int>{10, 20}));
}

TEST_F(FastScheduleTest, RemoveTakesOnlyTheFirstMatchAndKeepsPlugins) {
  schedule.PrepareFastSchedule();
  schedule.AddChannelToGroup(ChannelAt(1), 50);
  schedule.AddChannelToGroup(ChannelAt(1), 50);
  schedule.AddPluginToGroup(PluginAt(1), 50);
  schedule.RemoveChannelFromGroup(ChannelAt(1), 50);
  EXPECT_EQ(schedule.Group(50).channels.size(), 1u);
  schedule.RemoveChannelFromGroup(ChannelAt(1), 50);
  EXPECT_EQ(ActiveFrequencies(schedule), (std::vector<int>{50}));  // the plug-in keeps it
}

TEST_F(FastScheduleTest, UnreadableCounterIsReportedButTheEntryStays) {
  schedule.PrepareFastSchedule();
  fakeReadable = false;
  EXPECT_FALSE(schedule.AddChannelToGroup(ChannelAt(1), 7));
  EXPECT_EQ(schedule.Group(7).channels.size(), 1u);
  EXPECT_EQ(ActiveFrequencies(schedule), (std::vector<int>{7}));
}

}  // namespace
}  // namespace orvexa
