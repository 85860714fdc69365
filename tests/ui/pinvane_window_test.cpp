// The real serial board plug-in with the operator window's windows installed: "Configure
// selected" on its node opens the "Port selection" window on the main thread, the
// choice is stored in the plug-in's section, and a port that cannot be opened is
// reported by a box that the reader thread posts without blocking anybody. Headless
// (nothing installed) the same button only stores the settings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "config/config_access.h"
#include "config/configuration_store.h"
#include "host/device_registry.h"
#include "host/plugin_discovery.h"
#include "logging/fast_schedule.h"
#include "support/temp_dir.h"
#include "ui/plugin_dialogs.h"
#include "ui/port_selection_dialog.h"

namespace orvexa {
namespace {

int VisibleBoxes(const QString& title) {
  int count = 0;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->isVisible() && widget->windowTitle() == title) ++count;
  return count;
}

class PinvaneWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.CopyFromBuild("Pinvane.ldp");
    config.StartEmpty();
    schedule.PrepareFastSchedule();
    context.config = &config;
    context.schedule = &schedule;
    context.folder = dir.path();
    context.logCapacity = 16;
    ASSERT_TRUE(LoadPlugin(registry, "Pinvane.ldp", context));
    ASSERT_EQ(registry.PluginCount(), 1);
  }
  void TearDown() override {
    RemovePluginDialogs(registry);
    registry.UnloadAll();
  }

  ConfigValue* Section() {
    return FindPluginSection(config.OrvexaConfig(), registry.Plugin(0).fileName, false);
  }

  test::TempDir dir;
  ConfigurationStore config;
  FastSchedule schedule;
  PluginHostContext context;
  DeviceRegistry registry;
};

TEST_F(PinvaneWindowTest, ConfigureSelectedShowsThePortWindowAndStoresTheChoice) {
  InstallPluginDialogs(registry);
  std::string seenPath;
  bool shown = false;
  const std::string device = dir.File("no-such-tty");
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<PortSelectionDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    shown = true;
    EXPECT_EQ(dialog->portField()->text(), "0");
    dialog->portField()->setText("3");
    dialog->pathField()->setText(QString::fromStdString(device));
    dialog->accept();
  });
  // The channel node configures through the same window.
  ASSERT_GE(registry.ChannelCount(), 1u);
  registry.ConfigureSelected(DeviceTreeSelection::Channel(&registry.Channel(0)), config);
  EXPECT_TRUE(shown);
  ConfigValue* section = Section();
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(GetInt(section, "port_index", -1), 3);
  EXPECT_EQ(std::string(GetString(section, "port_path", "")), device);

  // The reader cannot open the device: its box arrives on the main thread, once.
  for (int i = 0; i < 100 && VisibleBoxes("Error opening port") == 0; ++i) QTest::qWait(20);
  EXPECT_EQ(VisibleBoxes("Error opening port"), 1);
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->windowTitle() == "Error opening port") widget->close();
}

TEST_F(PinvaneWindowTest, WithoutTheWindowsConfigureOnlyStores) {
  registry.ConfigureSelected(DeviceTreeSelection::Plugin(0), config);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  ConfigValue* section = Section();
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(GetInt(section, "port_index", -1), 0);
}

}  // namespace
}  // namespace orvexa
