// The further dialogs on the offscreen platform: "Log config" (its fields, labels and
// ranges: 8761 hours refused, 0 accepted), "Help" with its ten lines, and the plug-in's
// "Port selection" window with its range and the port_path beside the number, and the
// server's message boxes in GUI mode (modal on the main thread, posted from others).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <thread>

#include "app/server_command_line.h"
#include "platform/message_box.h"
#include "ui/gui_main.h"
#include "ui/help_dialog.h"
#include "ui/log_config_dialog.h"
#include "ui/plugin_dialogs.h"
#include "ui/port_selection_dialog.h"

namespace orvexa {
namespace {

LogDialogValues Typical() {
  LogDialogValues values;
  values.loggingEnabled = true;
  values.logFile = "Arduino_Input0";
  values.measureInterval = 60;
  values.resetOnStart = false;
  values.backupHours = 24;
  values.fastLogging = true;
  values.fastFrequency = 100;
  values.fastSize = 10000;
  return values;
}

TEST(LogConfigDialogTest, ShowsItsFieldsAndLabelsAndGivesBackWhatTheyHold) {
  LogConfigDialog dialog;
  EXPECT_EQ(dialog.windowTitle(), "Log config");
  EXPECT_EQ(dialog.loggingEnabled()->text(), "Loging enabled");
  EXPECT_EQ(dialog.resetOnStart()->text(), "Reset on server start");
  EXPECT_EQ(dialog.fastLogging()->text(), "Fast loging");
  EXPECT_EQ(dialog.browse()->text(), "...");
  QStringList labels;
  for (QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
  for (const char* text : {"Log file:", "Measure interval [s]:", "Backup periode [h]:",
                           "Fast log frequency [HZ]", "Fast log size"})
    EXPECT_TRUE(labels.contains(text)) << text;

  dialog.SetValues(Typical());
  EXPECT_EQ(dialog.Values(), Typical());
  // Number fields take digits only.
  dialog.fastSize()->clear();
  QTest::keyClicks(dialog.fastSize(), "-12a5");
  EXPECT_EQ(dialog.fastSize()->text(), "125");
}

TEST(LogConfigDialogTest, RefusesValuesOutsideTheRangesAndStaysOpen) {
  LogConfigDialog dialog;
  QStringList complaints;
  dialog.SetComplaint([&](QWidget*, const QString& text) { complaints << text; });
  dialog.SetValues(Typical());
  dialog.show();

  dialog.backupHours()->setText("8761");
  QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  ASSERT_EQ(complaints.size(), 1);
  EXPECT_EQ(complaints[0], "Please enter an integer between 0 and 8760.");

  dialog.backupHours()->setText("");
  QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(complaints.size(), 2);

  dialog.backupHours()->setText("0");
  dialog.fastFrequency()->setText("3001");
  QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(complaints.back(), "Please enter an integer between 1 and 3000.");

  dialog.fastFrequency()->setText("3000");
  dialog.measureInterval()->setText("99999999999");  // beyond 32 bits: refused, not wrapped
  QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(complaints.back(), "Please enter an integer between 1 and 1000000.");

  dialog.measureInterval()->setText("1");
  QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.Values().backupHours, 0u);
  EXPECT_EQ(complaints.size(), 4);
}

TEST(LogConfigDialogTest, CancelRejects) {
  LogConfigDialog dialog;
  dialog.SetValues(Typical());
  dialog.show();
  QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(HelpDialogTest, ShowsTheTenOptionLinesFiveOfThemIndented) {
  HelpDialog dialog(ServerCommandLine::HelpLines());
  EXPECT_EQ(dialog.windowTitle(), "Help");
  QStringList lines = dialog.Lines();
  ASSERT_EQ(lines.size(), 10);
  EXPECT_EQ(lines[0], "/config...Default configuration");
  EXPECT_EQ(lines[9], "/maxclient num .... max client count");
  std::vector<bool> expected = {false, false, false, true, true, false, true, true, false, true};
  EXPECT_EQ(dialog.Indented(), expected);
  auto* ok = dialog.findChild<QPushButton*>("ok");
  ASSERT_NE(ok, nullptr);
  dialog.show();
  QTest::mouseClick(ok, Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(PortSelectionDialogTest, TakesZeroToOneHundredAndShowsThePath) {
  PortSelectionDialog dialog(3, "/dev/ttyUSB0");
  EXPECT_EQ(dialog.windowTitle(), "Port selection");
  EXPECT_EQ(dialog.portField()->text(), "3");
  EXPECT_EQ(dialog.pathField()->text(), "/dev/ttyUSB0");
  EXPECT_EQ(dialog.okButton()->text(), "OK");
  EXPECT_EQ(dialog.cancelButton()->text(), "Cancel");
  QStringList complaints;
  dialog.SetComplaint([&](QWidget*, const QString& text) { complaints << text; });
  dialog.show();
  dialog.portField()->setText("101");
  QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
  EXPECT_TRUE(dialog.isVisible());
  ASSERT_EQ(complaints.size(), 1);
  EXPECT_EQ(complaints[0], "Please enter an integer between 0 and 100.");
  dialog.portField()->setText("");
  QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
  EXPECT_TRUE(dialog.isVisible());
  dialog.portField()->setText("100");
  dialog.pathField()->setText(" /dev/pts/4 ");
  QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Port(), 100);
  EXPECT_EQ(dialog.Path(), "/dev/pts/4");
}

// Accepts or cancels the port window once it is shown (it runs modally).
void AnswerPortWindow(const QString& port, const QString& path, bool ok) {
  QTimer::singleShot(0, [=] {
    auto* dialog = qobject_cast<PortSelectionDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->portField()->setText(port);
    dialog->pathField()->setText(path);
    if (ok)
      dialog->accept();
    else
      dialog->reject();
  });
}

TEST(PluginPortWindowTest, OkStoresNumberAndPathCancelKeepsThem) {
  int32_t port = 2;
  char path[32] = "/dev/ttyS1";
  AnswerPortWindow("7", "/dev/ttyACM0", true);
  EXPECT_EQ(OrvexaPortSelectionDialog(&port, path, sizeof path), 1);
  EXPECT_EQ(port, 7);
  EXPECT_STREQ(path, "/dev/ttyACM0");

  AnswerPortWindow("9", "/dev/other", false);
  EXPECT_EQ(OrvexaPortSelectionDialog(&port, path, sizeof path), 0);
  EXPECT_EQ(port, 7);
  EXPECT_STREQ(path, "/dev/ttyACM0");

  // A path that does not fit the plug-in's buffer is not cut into another name.
  char tiny[8] = "/dev/x";
  AnswerPortWindow("1", "/dev/much-too-long", true);
  EXPECT_EQ(OrvexaPortSelectionDialog(&port, tiny, sizeof tiny), 1);
  EXPECT_EQ(port, 1);
  EXPECT_STREQ(tiny, "/dev/x");
  EXPECT_EQ(OrvexaPortSelectionDialog(nullptr, tiny, sizeof tiny), 0);
}

TEST(PluginPortWindowTest, IsNotShownFromAnotherThread) {
  int32_t port = 4;
  int result = -1;
  std::thread other([&] { result = OrvexaPortSelectionDialog(&port, nullptr, 0); });
  other.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(port, 4);
}

TEST(PluginMessageBoxTest, AReaderThreadPostsItAndGoesOnOneBoxPerText) {
  auto openBoxes = [] {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (widget->isVisible() && widget->windowTitle() == "Error opening port") ++count;
    return count;
  };
  std::thread reader([] {
    // Returns at once although nobody answers the boxes.
    for (int i = 0; i < 3; ++i) OrvexaPluginMessageBox("Unable to open port", "Error opening port");
  });
  reader.join();
  EXPECT_EQ(openBoxes(), 0);  // not shown by the reader thread itself
  QTest::qWait(50);
  EXPECT_EQ(openBoxes(), 1);
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->windowTitle() == "Error opening port") widget->close();
  QTest::qWait(20);
  EXPECT_EQ(openBoxes(), 0);
}

TEST(ServerMessageBoxTest, IsModalOnTheMainThreadAndPostedFromAnotherThread) {
  InstallGuiMessageBoxes();
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    seen = true;
    EXPECT_EQ(box->windowTitle(), "Error");
    EXPECT_EQ(box->text(), "Config file invalid.");
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    box->accept();
  });
  // Returns only once the operator has answered the box.
  ShowMessageBox("Error", "Config file invalid.", MessageIcon::Stop);
  EXPECT_TRUE(seen);

  auto visible = [] {
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (widget->isVisible() && widget->windowTitle() == "Warning") return widget;
    return static_cast<QWidget*>(nullptr);
  };
  std::thread other([] { ShowMessageBox("Warning", "orvexa.cfg not saved"); });
  other.join();  // went on without anybody answering
  QWidget* box = nullptr;
  QTimer::singleShot(0, [&] {
    box = visible();
    if (box != nullptr) box->close();
  });
  QTest::qWait(50);
  EXPECT_NE(box, nullptr);
  RemoveGuiMessageBoxes();
}

}  // namespace
}  // namespace orvexa
