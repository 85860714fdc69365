#include "ui/help_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvexa {
namespace {

constexpr int kIndentPixels = 12;

// "/config", "/port", "/preset", "/limitcontrol" and "/enable" start at the margin;
// the other lines are indented.
bool IsIndented(const std::string& line) {
  for (const char* flush : {"/config", "/port", "/preset", "/limitcontrol", "/enable"}) {
    std::string prefix = std::string(flush);
    if (line.compare(0, prefix.size(), prefix) == 0 &&
        (line.size() == prefix.size() || line[prefix.size()] == ' ' || line[prefix.size()] == '.'))
      return false;
  }
  return true;
}

}  // namespace

HelpDialog::HelpDialog(const std::vector<std::string>& lines, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Help"));
  setModal(true);
  auto* column = new QVBoxLayout(this);
  column->setSpacing(4);
  for (const std::string& line : lines) {
    auto* label = new QLabel(QString::fromStdString(line), this);
    label->setObjectName("helpLine");
    bool indented = IsIndented(line);
    label->setProperty("indented", indented);
    label->setContentsMargins(indented ? kIndentPixels : 0, 0, 0, 0);
    column->addWidget(label);
  }
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName("ok");
  ok->setDefault(true);
  buttons->addWidget(ok);
  column->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QStringList HelpDialog::Lines() const {
  QStringList lines;
  for (QLabel* label : findChildren<QLabel*>("helpLine")) lines << label->text();
  return lines;
}

std::vector<bool> HelpDialog::Indented() const {
  std::vector<bool> indented;
  for (QLabel* label : findChildren<QLabel*>("helpLine"))
    indented.push_back(label->property("indented").toBool());
  return indented;
}

}  // namespace orvexa
