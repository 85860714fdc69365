// "Configure log for selected" and the "Log config" rules without a toolkit: filling the
// dialog from a channel, the ranges enforced on OK, and what an accepted dialog changes
// (log file closed, reopened under a changed path, periods, fast sampling groups), with
// the logging save after every use of the button that had a selection.
#include "operator/log_settings_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "host/device_channel.h"
#include "logging/fast_schedule.h"
#include "support/temp_dir.h"

namespace orvexa {
namespace {

constexpr uint32_t kSmallLog = 16;  // records; keeps the test files small

bool InGroup(FastSchedule& schedule, int frequency, DeviceChannel* channel) {
  const auto& channels = schedule.Group(frequency).channels;
  return std::find(channels.begin(), channels.end(), channel) != channels.end();
}

class LogSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LogFile::SetErrorSink([this](const std::string& text) { errors.push_back(text); });
    schedule.PrepareFastSchedule();
    channel.id = "Rig_Temp";
    channel.name = "Temp";
    channel.logFile.fileName = dir.File("temp.log");
  }
  void TearDown() override { LogFile::SetErrorSink(nullptr); }

  // Runs the button with `selection`; the dialog edits the values it is shown.
  bool Press(const DeviceTreeSelection& selection,
             const std::function<bool(LogDialogValues&)>& dialog) {
    return LogSettingsController::ConfigureLogForSelected(
        selection, schedule,
        [&](LogDialogValues& values) {
          ++dialogs;
          shown = values;
          return dialog(values);
        },
        [&] { ++saves; }, kSmallLog);
  }

  test::TempDir dir;
  FastSchedule schedule;
  DeviceChannel channel;
  std::vector<std::string> errors;
  LogDialogValues shown;
  int dialogs = 0;
  int saves = 0;
};

TEST(LogDialogRangesTest, EachFieldHasItsRangeOnOk) {
  LogDialogValues ok;
  ok.measureInterval = 1;
  ok.backupHours = 0;
  ok.fastFrequency = 1;
  ok.fastSize = 1;
  EXPECT_FALSE(LogSettingsController::CheckRanges(ok));
  LogDialogValues top = ok;
  top.measureInterval = 1000000;
  top.backupHours = 8760;
  top.fastFrequency = 3000;
  top.fastSize = 100000;
  EXPECT_FALSE(LogSettingsController::CheckRanges(top));

  struct Case {
    LogDialogField field;
    uint32_t value;
    const char* message;
  } cases[] = {
      {LogDialogField::MeasureInterval, 0, "Please enter an integer between 1 and 1000000."},
      {LogDialogField::MeasureInterval, 1000001, "Please enter an integer between 1 and 1000000."},
      {LogDialogField::BackupHours, 8761, "Please enter an integer between 0 and 8760."},
      {LogDialogField::FastFrequency, 0, "Please enter an integer between 1 and 3000."},
      {LogDialogField::FastFrequency, 3001, "Please enter an integer between 1 and 3000."},
      {LogDialogField::FastSize, 0, "Please enter an integer between 1 and 100000."},
      {LogDialogField::FastSize, UINT32_MAX, "Please enter an integer between 1 and 100000."},
  };
  for (const Case& c : cases) {
    LogDialogValues values = ok;
    switch (c.field) {
      case LogDialogField::MeasureInterval:
        values.measureInterval = c.value;
        break;
      case LogDialogField::BackupHours:
        values.backupHours = c.value;
        break;
      case LogDialogField::FastFrequency:
        values.fastFrequency = c.value;
        break;
      case LogDialogField::FastSize:
        values.fastSize = c.value;
        break;
    }
    auto error = LogSettingsController::CheckRanges(values);
    ASSERT_TRUE(error) << c.value;
    EXPECT_EQ(error->field, c.field);
    EXPECT_EQ(error->message, c.message);
  }
}

TEST_F(LogSettingsTest, TheDialogShowsTheChannelsSettingsWithBackupInHours) {
  channel.logPeriod = 60;
  channel.alwaysReset = true;
  channel.logFile.replicationPeriod = 24 * 3600 + 1800;  // shown as whole hours
  channel.fastLogEnabled = true;
  channel.fastLogFrequency = 250;
  channel.fastLogSize = 5000;
  ASSERT_TRUE(channel.logFile.Open(false, kSmallLog));
  LogDialogValues values = LogSettingsController::FillFrom(channel);
  EXPECT_TRUE(values.loggingEnabled);
  EXPECT_EQ(values.logFile, dir.File("temp.log"));
  EXPECT_EQ(values.measureInterval, 60u);
  EXPECT_TRUE(values.resetOnStart);
  EXPECT_EQ(values.backupHours, 24u);
  EXPECT_TRUE(values.fastLogging);
  EXPECT_EQ(values.fastFrequency, 250u);
  EXPECT_EQ(values.fastSize, 5000u);
  channel.logFile.Close();
  channel.logPeriod = -4;
  EXPECT_FALSE(LogSettingsController::FillFrom(channel).loggingEnabled);
  EXPECT_EQ(LogSettingsController::FillFrom(channel).measureInterval, 0u);
}

TEST_F(LogSettingsTest, OkStoresPeriodsAndOpensTheLogCancelChangesNothingBothSave) {
  EXPECT_FALSE(Press(DeviceTreeSelection::Channel(&channel), [](LogDialogValues& v) {
    v.loggingEnabled = true;
    v.measureInterval = 5;
    return false;  // Cancel
  }));
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(saves, 1);
  EXPECT_FALSE(channel.logFile.IsOpen());
  EXPECT_EQ(channel.logPeriod, 1);

  EXPECT_TRUE(Press(DeviceTreeSelection::Channel(&channel), [](LogDialogValues& v) {
    v.loggingEnabled = true;
    v.measureInterval = 5;
    v.resetOnStart = true;
    v.backupHours = 0;  // 0 is accepted: no copies
    v.fastFrequency = 100;
    v.fastSize = 10;
    return true;
  }));
  EXPECT_EQ(saves, 2);
  EXPECT_TRUE(channel.logFile.IsOpen());
  EXPECT_EQ(channel.logPeriod, 5);
  EXPECT_TRUE(channel.alwaysReset);
  EXPECT_EQ(channel.logFile.replicationPeriod, 0);
  EXPECT_EQ(channel.fastLogSize, 10);
  EXPECT_TRUE(std::filesystem::exists(dir.File("temp.log")));

  Press(DeviceTreeSelection::Channel(&channel), [](LogDialogValues& v) {
    v.backupHours = 8760;
    return true;
  });
  EXPECT_EQ(channel.logFile.replicationPeriod, int64_t{8760} * 3600);
  EXPECT_TRUE(errors.empty());
}

TEST_F(LogSettingsTest, UncheckingClosesTheLogAndKeepsTheFile) {
  ASSERT_TRUE(channel.logFile.Open(false, kSmallLog));
  Press(DeviceTreeSelection::Channel(&channel), [](LogDialogValues& v) {
    EXPECT_TRUE(v.loggingEnabled);
    v.loggingEnabled = false;
    return true;
  });
  EXPECT_FALSE(channel.logFile.IsOpen());
  EXPECT_TRUE(std::filesystem::exists(dir.File("temp.log")));
}

TEST_F(LogSettingsTest, AChangedPathClosesTheOldFileAndOpensTheNewOne) {
  ASSERT_TRUE(channel.logFile.Open(false, kSmallLog));
  channel.logFile.Append(1000, 2.5f);
  channel.logFile.Flush();
  const std::string next = dir.File("next.log");
  Press(DeviceTreeSelection::Channel(&channel), [&](LogDialogValues& v) {
    v.logFile = next;
    return true;
  });
  EXPECT_EQ(channel.logFile.fileName, next);
  EXPECT_TRUE(channel.logFile.IsOpen());
  EXPECT_TRUE(std::filesystem::exists(next));
  // The old file is no longer held: another log file can take its lock.
  LogFile old(dir.File("temp.log"));
  EXPECT_TRUE(old.Open(false, kSmallLog)) << (errors.empty() ? "" : errors.back());
  EXPECT_EQ(old.Header()->count, 1u);
}

TEST_F(LogSettingsTest, APathThatCannotBeOpenedLeavesTheChannelUnloggedAndIsReported) {
  Press(DeviceTreeSelection::Channel(&channel), [&](LogDialogValues& v) {
    v.loggingEnabled = true;
    v.logFile = dir.File("missing-folder/x.log");
    return true;
  });
  EXPECT_FALSE(channel.logFile.IsOpen());
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(saves, 1);
}

TEST_F(LogSettingsTest, FastLoggingMovesTheChannelBetweenFrequencyGroups) {
  auto set = [&](bool on, uint32_t frequency) {
    Press(DeviceTreeSelection::Channel(&channel), [&](LogDialogValues& v) {
      v.fastLogging = on;
      v.fastFrequency = frequency;
      return true;
    });
  };
  set(true, 100);
  EXPECT_TRUE(InGroup(schedule, 100, &channel));
  EXPECT_TRUE(schedule.Group(100).active);
  set(true, 200);
  EXPECT_FALSE(InGroup(schedule, 100, &channel));
  EXPECT_FALSE(schedule.Group(100).active);
  EXPECT_TRUE(InGroup(schedule, 200, &channel));
  set(true, 200);  // unchanged: still exactly one entry
  EXPECT_EQ(schedule.Group(200).channels.size(), 1u);
  set(false, 300);  // switched off: removed at the frequency it was sampled at
  EXPECT_FALSE(InGroup(schedule, 200, &channel));
  EXPECT_FALSE(InGroup(schedule, 300, &channel));
  EXPECT_FALSE(schedule.HasActiveGroups());
  set(false, 400);  // off stays off, wherever the frequency goes
  EXPECT_FALSE(schedule.HasActiveGroups());
  EXPECT_EQ(channel.fastLogFrequency, 400);
}

TEST_F(LogSettingsTest, AFrequencyBeyondTheGroupsFromTheFileLeavesItsClampedGroup) {
  // Registration put a channel with FastLogFreq 5000 into the 3999 Hz group.
  channel.fastLogEnabled = true;
  channel.fastLogFrequency = 5000;
  schedule.AddChannelToGroup(&channel, 5000);
  Press(DeviceTreeSelection::Channel(&channel), [](LogDialogValues& v) {
    EXPECT_EQ(v.fastFrequency, 5000u);  // refused by the dialog until corrected
    v.fastFrequency = 50;
    return true;
  });
  EXPECT_FALSE(InGroup(schedule, 3999, &channel));
  EXPECT_TRUE(InGroup(schedule, 50, &channel));
}

TEST_F(LogSettingsTest, PluginNodeSavesWithoutDialogNoSelectionDoesNothing) {
  EXPECT_FALSE(Press(DeviceTreeSelection::Plugin(0), [](LogDialogValues&) { return true; }));
  EXPECT_EQ(dialogs, 0);
  EXPECT_EQ(saves, 1);
  EXPECT_FALSE(Press(DeviceTreeSelection::None(), [](LogDialogValues&) { return true; }));
  EXPECT_EQ(dialogs, 0);
  EXPECT_EQ(saves, 1);
}

TEST_F(LogSettingsTest, AnAcceptedDialogOutsideTheRangesIsNotApplied) {
  EXPECT_FALSE(Press(DeviceTreeSelection::Channel(&channel), [](LogDialogValues& v) {
    v.measureInterval = 0xFFFFFFFFu;
    v.loggingEnabled = true;
    return true;
  }));
  EXPECT_EQ(channel.logPeriod, 1);
  EXPECT_FALSE(channel.logFile.IsOpen());
  EXPECT_EQ(saves, 1);
}

}  // namespace
}  // namespace orvexa
