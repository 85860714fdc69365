// MainWindow: the operator's window. It shows the "Clients quene" list with KICK, the
// "Devices" tree with "Configure selected" and "Configure log for selected", and the
// server settings; it only displays and forwards: every rule lives in the toolkit-free
// controllers (SettingsController, KickController, LogSettingsController), and the
// server's pieces are reached through the MainWindowModel the owner fills in.
//
// Main thread only. Other threads never touch it: they post to the main thread (the
// client rows, the end of a housekeeping pass), which then calls SetClientRows or
// MaintenancePassFinished. Closing the window, Escape, or Enter in a number field ask
// the model to end the run (the orderly shutdown).
#pragma once

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/device_tree.h"
#include "operator/kick_controller.h"
#include "operator/log_settings_controller.h"
#include "operator/settings_controller.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;

namespace orvexa {

struct ServerSettings;

// What the window acts on. Unset functions make their buttons do nothing.
struct MainWindowModel {
  ServerSettings* settings = nullptr;
  std::atomic<bool>* kickRequested = nullptr;
  // Copies the user-table settings (and rebuilds its rows when asked).
  SettingsController::UserTableSink userTable;
  // Remembers the user to kick at the next housekeeping pass (0: nobody).
  KickController::KickRequest kick;
  // The plug-ins and channels; null shows an empty tree.
  const DeviceTree* tree = nullptr;
  // "Configure selected": the registry's ConfigureSelected.
  std::function<void(const DeviceTreeSelection&)> configureSelected;
  // "Configure log for selected": the channel's fast groups and the logging save.
  FastSchedule* schedule = nullptr;
  LogSettingsController::Save saveLoggingSettings;
  uint32_t logCapacity = kLogCapacity;
  // Shows the "Log config" dialog; unset: the real dialog, modal.
  LogSettingsController::Dialog logDialog;
  // Raised while "Configure selected" or "Configure log for selected" runs (it holds
  // ServerLock around a modal dialog); the server's one-second tick waits meanwhile.
  std::atomic<bool>* dialogOpen = nullptr;
  // Ends the run (the orderly shutdown follows).
  std::function<void()> endRun;
  // Enables the hidden "Use authentication" check box.
  bool authenticationAvailable = false;
};

// One row of the client list: its text and the user's id.
struct ClientListRow {
  uint32_t id = 0;
  std::string text;
};

class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // The maker's web address shown under the title and opened by a click on it.
  static constexpr const char* kMakerAddress = "https://orvexa.example.org";

  MainWindow(MainWindowModel model, const std::string& title, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Rebuilds the client list (no selection afterwards).
  void SetClientRows(const std::vector<ClientListRow>& rows);
  // A housekeeping pass has ended (KICK enabled again unless closing).
  void MaintenancePassFinished(bool windowClosing);

  // The tree's selection as the handlers see it.
  DeviceTreeSelection Selection() const;
  // The ids of the selected client rows, from the top.
  std::vector<uint32_t> SelectedClientIds() const;

  // For the owner and the tests: the controls by their texts.
  QCheckBox* allowConnections() const { return allowConnections_; }
  QCheckBox* limitWriteCommands() const { return limitWriteCommands_; }
  QCheckBox* disableDeviceListing() const { return disableDeviceListing_; }
  QCheckBox* limitUsageTime() const { return limitUsageTime_; }
  QCheckBox* useAuthentication() const { return useAuthentication_; }
  QLineEdit* expiration() const { return expiration_; }
  QLineEdit* maxUsageTime() const { return maxUsageTime_; }
  QLineEdit* maxClientCount() const { return maxClientCount_; }
  QListWidget* clients() const { return clients_; }
  QPushButton* kickButton() const { return kick_; }
  QTreeWidget* devices() const { return devices_; }
  QPushButton* configureButton() const { return configure_; }
  QPushButton* configureLogButton() const { return configureLog_; }
  QLabel* makerAddress() const { return maker_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  void FillTree();
  void FillSettings();
  void ApplySettings(SettingsControl changed);
  void ShowNumberState(QLineEdit* field, bool valid);
  void ConfigureSelected();
  void ConfigureLogForSelected();
  void EndRun();

  MainWindowModel model_;
  std::unique_ptr<SettingsController> settings_;
  std::unique_ptr<KickController> kickController_;
  bool filling_ = false;
  bool ending_ = false;

  QCheckBox* allowConnections_ = nullptr;
  QCheckBox* limitWriteCommands_ = nullptr;
  QCheckBox* disableDeviceListing_ = nullptr;
  QCheckBox* limitUsageTime_ = nullptr;
  QCheckBox* useAuthentication_ = nullptr;
  QLineEdit* expiration_ = nullptr;
  QLineEdit* maxUsageTime_ = nullptr;
  QLineEdit* maxClientCount_ = nullptr;
  QListWidget* clients_ = nullptr;
  QPushButton* kick_ = nullptr;
  QTreeWidget* devices_ = nullptr;
  QPushButton* configure_ = nullptr;
  QPushButton* configureLog_ = nullptr;
  QLabel* maker_ = nullptr;
};

}  // namespace orvexa
