#include "ui/log_config_dialog.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "config/kept_spellings.h"

namespace orvexa {
namespace {

QLineEdit* DigitsField(QWidget* parent, const char* name) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(name);
  field->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,10}")), field));
  return field;
}

// A digits-only field as an unsigned number; what does not fit 32 bits reads as the
// largest value (refused by every range), an empty field as 0.
uint32_t NumberOf(const QLineEdit* field) {
  bool ok = false;
  qulonglong value = field->text().trimmed().toULongLong(&ok);
  if (!ok) return field->text().trimmed().isEmpty() ? 0 : UINT32_MAX;
  return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

}  // namespace

LogConfigDialog::LogConfigDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Log config"));
  setModal(true);
  auto* grid = new QGridLayout(this);

  loggingEnabled_ = new QCheckBox(QString::fromLatin1(kLoggingEnabledLabel), this);
  loggingEnabled_->setObjectName("loggingEnabled");
  grid->addWidget(loggingEnabled_, 0, 0, 1, 3);

  grid->addWidget(new QLabel(QStringLiteral("Log file:"), this), 1, 0);
  logFile_ = new QLineEdit(this);
  logFile_->setObjectName("logFile");
  grid->addWidget(logFile_, 1, 1);
  browse_ = new QPushButton(QStringLiteral("..."), this);
  browse_->setObjectName("browse");
  browse_->setAutoDefault(false);
  grid->addWidget(browse_, 1, 2);

  grid->addWidget(new QLabel(QStringLiteral("Measure interval [s]:"), this), 2, 0);
  measureInterval_ = DigitsField(this, "measureInterval");
  grid->addWidget(measureInterval_, 2, 1, 1, 2);

  resetOnStart_ = new QCheckBox(QStringLiteral("Reset on server start"), this);
  resetOnStart_->setObjectName("resetOnStart");
  grid->addWidget(resetOnStart_, 3, 0, 1, 3);

  grid->addWidget(new QLabel(QStringLiteral("Backup periode [h]:"), this), 4, 0);
  backupHours_ = DigitsField(this, "backupHours");
  grid->addWidget(backupHours_, 4, 1, 1, 2);

  fastLogging_ = new QCheckBox(QString::fromLatin1(kFastLoggingLabel), this);
  fastLogging_->setObjectName("fastLogging");
  grid->addWidget(fastLogging_, 5, 0, 1, 3);

  grid->addWidget(new QLabel(QStringLiteral("Fast log frequency [HZ]"), this), 6, 0);
  fastFrequency_ = DigitsField(this, "fastFrequency");
  grid->addWidget(fastFrequency_, 6, 1, 1, 2);

  grid->addWidget(new QLabel(QStringLiteral("Fast log size"), this), 7, 0);
  fastSize_ = DigitsField(this, "fastSize");
  grid->addWidget(fastSize_, 7, 1, 1, 2);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName("ok");
  ok_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName("cancel");
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  grid->addLayout(buttons, 8, 0, 1, 3);

  connect(ok_, &QPushButton::clicked, this, &LogConfigDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &LogConfigDialog::reject);
  connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });

  complaint_ = [](QWidget* owner, const QString& text) {
    QMessageBox::warning(owner, QStringLiteral("Orvexa"), text);
  };
}

void LogConfigDialog::SetValues(const LogDialogValues& values) {
  loggingEnabled_->setChecked(values.loggingEnabled);
  logFile_->setText(QString::fromStdString(values.logFile));
  measureInterval_->setText(QString::number(values.measureInterval));
  resetOnStart_->setChecked(values.resetOnStart);
  backupHours_->setText(QString::number(values.backupHours));
  fastLogging_->setChecked(values.fastLogging);
  fastFrequency_->setText(QString::number(values.fastFrequency));
  fastSize_->setText(QString::number(values.fastSize));
}

LogDialogValues LogConfigDialog::Values() const {
  LogDialogValues values;
  values.loggingEnabled = loggingEnabled_->isChecked();
  values.logFile = logFile_->text().toStdString();
  values.measureInterval = NumberOf(measureInterval_);
  values.resetOnStart = resetOnStart_->isChecked();
  values.backupHours = NumberOf(backupHours_);
  values.fastLogging = fastLogging_->isChecked();
  values.fastFrequency = NumberOf(fastFrequency_);
  values.fastSize = NumberOf(fastSize_);
  return values;
}

QLineEdit* LogConfigDialog::FieldOf(LogDialogField field) const {
  switch (field) {
    case LogDialogField::MeasureInterval:
      return measureInterval_;
    case LogDialogField::BackupHours:
      return backupHours_;
    case LogDialogField::FastFrequency:
      return fastFrequency_;
    case LogDialogField::FastSize:
      return fastSize_;
  }
  return nullptr;
}

void LogConfigDialog::accept() {
  // An empty number field is not a number: refused like a value out of range.
  for (LogDialogField field : {LogDialogField::MeasureInterval, LogDialogField::BackupHours,
                               LogDialogField::FastFrequency, LogDialogField::FastSize}) {
    QLineEdit* edit = FieldOf(field);
    if (edit->text().trimmed().isEmpty()) {
      if (complaint_) complaint_(this, QStringLiteral("Please enter an integer."));
      edit->setFocus();
      return;
    }
  }
  if (std::optional<LogDialogRangeError> error = LogSettingsController::CheckRanges(Values())) {
    if (complaint_) complaint_(this, QString::fromStdString(error->message));
    QLineEdit* edit = FieldOf(error->field);
    edit->setFocus();
    edit->selectAll();
    return;
  }
  QDialog::accept();
}

void LogConfigDialog::Browse() {
  // Starts from the field's current path; the chosen file must exist.
  QFileDialog box(this);
  box.setFileMode(QFileDialog::ExistingFile);
  box.setNameFilter(QStringLiteral("Plugin Files (*.log)"));
  box.setDefaultSuffix(QStringLiteral("log"));
  if (!logFile_->text().isEmpty()) box.selectFile(logFile_->text());
  if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return;
  logFile_->setText(box.selectedFiles().first());
}

}  // namespace orvexa
