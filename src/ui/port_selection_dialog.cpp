#include "ui/port_selection_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace orvexa {

PortSelectionDialog::PortSelectionDialog(int32_t port, const std::string& path, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Port selection"));
  setModal(true);
  auto* grid = new QGridLayout(this);

  port_ = new QLineEdit(this);
  port_->setObjectName("port");
  port_->setAlignment(Qt::AlignRight);
  port_->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,10}")), port_));
  port_->setText(QString::number(port < 0 ? 0 : port));
  grid->addWidget(port_, 0, 0, 1, 2);

  grid->addWidget(new QLabel(QStringLiteral("port_path:"), this), 0, 2);
  path_ = new QLineEdit(this);
  path_->setObjectName("portPath");
  path_->setText(QString::fromStdString(path));
  path_->setMinimumWidth(180);
  grid->addWidget(path_, 0, 3);

  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName("ok");
  ok_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_->setObjectName("cancel");
  cancel_->setAutoDefault(false);
  grid->addWidget(ok_, 1, 0, 1, 2);
  grid->addWidget(cancel_, 2, 0, 1, 2);
  connect(ok_, &QPushButton::clicked, this, &PortSelectionDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &PortSelectionDialog::reject);

  complaint_ = [](QWidget* owner, const QString& text) {
    QMessageBox::warning(owner, QStringLiteral("Port selection"), text);
  };
}

int32_t PortSelectionDialog::Port() const {
  bool ok = false;
  qulonglong value = port_->text().trimmed().toULongLong(&ok);
  if (!ok || value > kMaxPort) return -1;
  return static_cast<int32_t>(value);
}

std::string PortSelectionDialog::Path() const {
  return path_->text().trimmed().toStdString();
}

void PortSelectionDialog::accept() {
  if (Port() < 0) {
    if (complaint_)
      complaint_(this, QStringLiteral("Please enter an integer between 0 and %1.").arg(kMaxPort));
    port_->setFocus();
    port_->selectAll();
    return;
  }
  QDialog::accept();
}

}  // namespace orvexa
