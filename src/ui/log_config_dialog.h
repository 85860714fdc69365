// LogConfigDialog: the "Log config" dialog that edits one channel's logging settings:
// "Loging enabled", the log file with its "..." browser, the measure interval, "Reset on
// server start", the backup period in hours, "Fast loging" with its frequency and size.
// OK checks the ranges (LogSettingsController::CheckRanges); a field outside its range
// is reported and the dialog stays open. What an accepted dialog changes is the
// controller's business.
//
// Main thread only, shown modally by the main window.
#pragma once

#include <QDialog>
#include <functional>

#include "operator/log_settings_controller.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace orvexa {

class LogConfigDialog : public QDialog {
  Q_OBJECT

 public:
  // Tells the operator why OK was refused; the default is a modal warning box.
  using Complaint = std::function<void(QWidget* parent, const QString& text)>;

  explicit LogConfigDialog(QWidget* parent = nullptr);

  void SetValues(const LogDialogValues& values);
  // What the fields hold now (a field that holds no number reads as 0).
  LogDialogValues Values() const;
  void SetComplaint(Complaint complaint) { complaint_ = std::move(complaint); }

  QCheckBox* loggingEnabled() const { return loggingEnabled_; }
  QLineEdit* logFile() const { return logFile_; }
  QPushButton* browse() const { return browse_; }
  QLineEdit* measureInterval() const { return measureInterval_; }
  QCheckBox* resetOnStart() const { return resetOnStart_; }
  QLineEdit* backupHours() const { return backupHours_; }
  QCheckBox* fastLogging() const { return fastLogging_; }
  QLineEdit* fastFrequency() const { return fastFrequency_; }
  QLineEdit* fastSize() const { return fastSize_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 public Q_SLOTS:
  void accept() override;

 private:
  void Browse();
  QLineEdit* FieldOf(LogDialogField field) const;

  QCheckBox* loggingEnabled_ = nullptr;
  QLineEdit* logFile_ = nullptr;
  QPushButton* browse_ = nullptr;
  QLineEdit* measureInterval_ = nullptr;
  QCheckBox* resetOnStart_ = nullptr;
  QLineEdit* backupHours_ = nullptr;
  QCheckBox* fastLogging_ = nullptr;
  QLineEdit* fastFrequency_ = nullptr;
  QLineEdit* fastSize_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  Complaint complaint_;
};

}  // namespace orvexa
