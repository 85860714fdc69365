// HelpDialog: the "Help" window shown when the command line is invalid: the ten option
// lines (five of them indented) and OK. It has no behaviour besides closing.
//
// Main thread only, shown modally by start-up before the process ends.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

namespace orvexa {

class HelpDialog : public QDialog {
  Q_OBJECT

 public:
  explicit HelpDialog(const std::vector<std::string>& lines, QWidget* parent = nullptr);

  // The lines as shown, top to bottom, and whether each one is indented.
  QStringList Lines() const;
  std::vector<bool> Indented() const;
};

}  // namespace orvexa
