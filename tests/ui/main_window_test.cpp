// The operator window driven with QTest on the offscreen platform: the enabling rules
// follow the check boxes, a field without a valid number keeps the previous value, KICK
// with two selected rows removes only the upper one, the tree shows plug-in and channel
// nodes and its buttons act on the selection, and Escape, Enter or closing end the run.
#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <deque>

#include "app/server_settings.h"
#include "host/device_channel.h"
#include "logging/fast_schedule.h"

namespace orvexa {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.LimitMultipleControl = true;
    settings.LimitUsage = true;
    settings.MaxUsageTime = 300;
    schedule.PrepareFastSchedule();
  }

  std::unique_ptr<MainWindow> Open() {
    MainWindowModel model;
    model.settings = &settings;
    model.kickRequested = &kickFlag;
    model.userTable = [this](const UserLimits& limits, bool refresh) {
      lastLimits = limits;
      refreshes += refresh ? 1 : 0;
    };
    model.kick = [this](uint32_t id) { pendingKick = id; };
    model.tree = &tree;
    model.configureSelected = [this](const DeviceTreeSelection& s) {
      configured.push_back(s);
      flagDuringDialogs.push_back(dialogOpen.load());
    };
    model.schedule = &schedule;
    model.saveLoggingSettings = [this] { ++saves; };
    model.logDialog = [this](LogDialogValues& values) {
      ++logDialogs;
      flagDuringDialogs.push_back(dialogOpen.load());
      values.measureInterval = 7;
      return true;
    };
    model.dialogOpen = &dialogOpen;
    model.endRun = [this] { ++endRuns; };
    auto window = std::make_unique<MainWindow>(model, "Orvexa (Experiment log time precision:1)");
    window->show();
    return window;
  }

  // The housekeeping pass of a fake user table: removes the pending kick's row.
  void Pass(MainWindow& window) {
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [&](const ClientListRow& r) { return r.id == pendingKick; }),
               rows.end());
    pendingKick = 0;
    window.SetClientRows(rows);
    window.MaintenancePassFinished(false);
  }

  ServerSettings settings;
  std::atomic<bool> kickFlag{false};
  UserLimits lastLimits;
  int refreshes = 0;
  uint32_t pendingKick = 0;
  std::vector<ClientListRow> rows;
  DeviceTree tree;
  std::deque<DeviceChannel> channels;
  std::vector<DeviceTreeSelection> configured;
  FastSchedule schedule;
  int saves = 0;
  int logDialogs = 0;
  int endRuns = 0;
  std::atomic<bool> dialogOpen{false};
  std::vector<bool> flagDuringDialogs;
};

TEST_F(MainWindowTest, ShowsEveryControlWithItsText) {
  auto window = Open();
  EXPECT_EQ(window->windowTitle(), "Orvexa (Experiment log time precision:1)");
  EXPECT_EQ(window->allowConnections()->text(), "Allow conections");
  EXPECT_EQ(window->limitWriteCommands()->text(), "Limit Write commands");
  EXPECT_EQ(window->disableDeviceListing()->text(), "Disable device listing");
  EXPECT_EQ(window->limitUsageTime()->text(), "Limit usage time");
  EXPECT_EQ(window->useAuthentication()->text(), "Use authentication");
  EXPECT_FALSE(window->useAuthentication()->isVisible());
  EXPECT_FALSE(window->useAuthentication()->isEnabled());
  EXPECT_EQ(window->kickButton()->text(), "KICK");
  EXPECT_EQ(window->configureButton()->text(), "Configure selected");
  EXPECT_EQ(window->configureLogButton()->text(), "Configure log for selected");
  QStringList labels;
  for (QLabel* label : window->findChildren<QLabel*>()) labels << label->text();
  for (const char* text : {"Clients quene", "Devices", "Max usage time [s]:",
                           "Conection expiration [s]", "Maximum client count:"})
    EXPECT_TRUE(labels.contains(text)) << text;
  EXPECT_TRUE(window->makerAddress()->text().contains(MainWindow::kMakerAddress));
  EXPECT_EQ(window->clients()->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(window->expiration()->text(), "60");
  EXPECT_EQ(window->maxUsageTime()->text(), "300");
  EXPECT_EQ(window->maxClientCount()->text(), "50");
  // Opening applied the settings once: the user table has its copy.
  EXPECT_EQ(lastLimits.maxUsageTime, 300);
}

TEST_F(MainWindowTest, EnablingFollowsTheCheckBoxesWithoutChangingValues) {
  auto window = Open();
  EXPECT_TRUE(window->limitUsageTime()->isEnabled());
  EXPECT_TRUE(window->maxUsageTime()->isEnabled());

  QTest::keyClick(window->limitUsageTime(), Qt::Key_Space);  // usage limit off
  EXPECT_FALSE(settings.LimitUsage);
  EXPECT_TRUE(window->limitUsageTime()->isEnabled());
  EXPECT_FALSE(window->maxUsageTime()->isEnabled());
  QTest::keyClick(window->limitUsageTime(), Qt::Key_Space);  // back on
  EXPECT_TRUE(window->maxUsageTime()->isEnabled());

  QTest::keyClick(window->limitWriteCommands(), Qt::Key_Space);  // multiple control off
  EXPECT_FALSE(settings.LimitMultipleControl);
  EXPECT_FALSE(window->limitUsageTime()->isEnabled());
  EXPECT_FALSE(window->maxUsageTime()->isEnabled());
  EXPECT_TRUE(window->limitUsageTime()->isChecked());
  EXPECT_EQ(window->maxUsageTime()->text(), "300");
  EXPECT_TRUE(settings.LimitUsage);
  EXPECT_EQ(refreshes, 1);  // "Limit Write commands" rebuilds the rows

  QTest::keyClick(window->allowConnections(), Qt::Key_Space);
  QTest::keyClick(window->disableDeviceListing(), Qt::Key_Space);
  EXPECT_FALSE(settings.Enable);
  EXPECT_TRUE(settings.DisableDeviceListing);
  EXPECT_EQ(refreshes, 1);
}

TEST_F(MainWindowTest, AnInvalidNumberKeepsThePreviousValue) {
  auto window = Open();
  QLineEdit* field = window->expiration();
  field->selectAll();
  QTest::keyClick(field, Qt::Key_Delete);  // emptied: not a number
  EXPECT_EQ(settings.ConnectionExpirationDelay, 60);
  EXPECT_TRUE(field->property("invalidNumber").toBool());
  EXPECT_FALSE(field->toolTip().isEmpty());
  QTest::keyClicks(field, "x9");
  EXPECT_EQ(settings.ConnectionExpirationDelay, 60);
  QTest::keyClick(field, Qt::Key_Home);
  QTest::keyClick(field, Qt::Key_Delete);
  EXPECT_EQ(field->text(), "9");
  EXPECT_EQ(settings.ConnectionExpirationDelay, 9);
  EXPECT_FALSE(field->property("invalidNumber").toBool());
  EXPECT_EQ(lastLimits.expirationDelay, 9);

  // The unsigned fields take digits only.
  QLineEdit* clients = window->maxClientCount();
  clients->selectAll();
  QTest::keyClicks(clients, "-7a3");
  EXPECT_EQ(clients->text(), "73");
  EXPECT_EQ(settings.MaxClientCount, 73);
}

TEST_F(MainWindowTest, KickWithTwoSelectedRowsRemovesOnlyTheUpperOne) {
  auto window = Open();
  rows = {{123, "010.000.000.001 C_D"}, {124, "010.000.000.002 __D"}, {125, "192.168.001.007 _RH"}};
  window->SetClientRows(rows);
  ASSERT_EQ(window->clients()->count(), 3);
  EXPECT_EQ(window->clients()->item(2)->text(), "192.168.001.007 _RH");
  window->clients()->item(2)->setSelected(true);
  window->clients()->item(1)->setSelected(true);

  QTest::mouseClick(window->kickButton(), Qt::LeftButton);
  EXPECT_FALSE(window->kickButton()->isEnabled());
  EXPECT_TRUE(kickFlag.load());
  EXPECT_EQ(pendingKick, 124u);

  Pass(*window);
  ASSERT_EQ(window->clients()->count(), 2);
  EXPECT_EQ(window->clients()->item(0)->text(), "010.000.000.001 C_D");
  EXPECT_EQ(window->clients()->item(1)->text(), "192.168.001.007 _RH");
  EXPECT_TRUE(window->clients()->selectedItems().isEmpty());
  EXPECT_TRUE(window->kickButton()->isEnabled());

  // Without a selection the press only disables the button until the next pass.
  QTest::mouseClick(window->kickButton(), Qt::LeftButton);
  EXPECT_EQ(pendingKick, 0u);
  EXPECT_FALSE(window->kickButton()->isEnabled());
  Pass(*window);
  EXPECT_EQ(window->clients()->count(), 2);
  EXPECT_TRUE(window->kickButton()->isEnabled());
}

TEST_F(MainWindowTest, TheTreeShowsPluginAndChannelNodesAndTheButtonsActOnTheSelection) {
  channels.resize(3);
  channels[0].name = "Input0";
  channels[1].name = "Output0";
  channels[2].name = "Level";
  tree.plugins.push_back({"Arduino", 0, {{"Input0", &channels[0]}, {"Output0", &channels[1]}}});
  tree.plugins.push_back({"Simulator", 1, {{"Level", &channels[2]}}});
  auto window = Open();
  QTreeWidget* devices = window->devices();
  ASSERT_EQ(devices->topLevelItemCount(), 2);
  EXPECT_EQ(devices->topLevelItem(0)->text(0), "Arduino");
  ASSERT_EQ(devices->topLevelItem(0)->childCount(), 2);
  EXPECT_EQ(devices->topLevelItem(0)->child(1)->text(0), "Output0");
  EXPECT_EQ(devices->topLevelItem(1)->text(0), "Simulator");
  EXPECT_EQ(devices->topLevelItem(1)->child(0)->text(0), "Level");

  // Nothing selected: neither button does anything.
  QTest::mouseClick(window->configureButton(), Qt::LeftButton);
  QTest::mouseClick(window->configureLogButton(), Qt::LeftButton);
  EXPECT_TRUE(configured.empty());
  EXPECT_EQ(saves, 0);

  devices->setCurrentItem(devices->topLevelItem(1));
  QTest::mouseClick(window->configureButton(), Qt::LeftButton);
  ASSERT_EQ(configured.size(), 1u);
  EXPECT_EQ(configured[0].kind, DeviceTreeSelection::Kind::Plugin);
  EXPECT_EQ(configured[0].slot, 1);
  // A plug-in node: no log dialog, but the logging settings are saved.
  QTest::mouseClick(window->configureLogButton(), Qt::LeftButton);
  EXPECT_EQ(logDialogs, 0);
  EXPECT_EQ(saves, 1);

  devices->setCurrentItem(devices->topLevelItem(0)->child(1));
  QTest::mouseClick(window->configureButton(), Qt::LeftButton);
  ASSERT_EQ(configured.size(), 2u);
  EXPECT_EQ(configured[1].kind, DeviceTreeSelection::Kind::Channel);
  EXPECT_EQ(configured[1].channel, &channels[1]);
  QTest::mouseClick(window->configureLogButton(), Qt::LeftButton);
  EXPECT_EQ(logDialogs, 1);
  EXPECT_EQ(saves, 2);
  EXPECT_EQ(channels[1].logPeriod, 7);
  // Both handlers raise the dialog flag (the server's tick waits) and lower it after.
  EXPECT_EQ(flagDuringDialogs, std::vector<bool>({true, true, true}));
  EXPECT_FALSE(dialogOpen.load());
}

TEST_F(MainWindowTest, EscapeEnterInANumberFieldAndClosingEndTheRun) {
  {
    auto window = Open();
    QTest::keyClick(window->devices(), Qt::Key_Escape);
    EXPECT_EQ(endRuns, 1);
    EXPECT_FALSE(window->isVisible());
  }
  {
    auto window = Open();
    QTest::keyClick(window->maxUsageTime(), Qt::Key_Return);
    EXPECT_EQ(endRuns, 2);
  }
  {
    auto window = Open();
    window->close();
    EXPECT_EQ(endRuns, 3);
    window->close();  // once only
    EXPECT_EQ(endRuns, 3);
  }
}

}  // namespace
}  // namespace orvexa
