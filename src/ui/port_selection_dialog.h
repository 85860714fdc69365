// PortSelectionDialog: the serial board plug-in's "Port selection" window: the port
// number (0 to 100, 0 = no port) with OK and Cancel, and beside it the device path
// (port_path) that, when set, names the serial device directly and wins over the number.
// A number outside 0 to 100 is refused on OK and the window stays open.
//
// Main thread only. The plug-in reaches it through the C function that the operator
// window installs into it (see plugin_dialogs.h).
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>

class QLineEdit;
class QPushButton;

namespace orvexa {

class PortSelectionDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr uint32_t kMaxPort = 100;
  using Complaint = std::function<void(QWidget* parent, const QString& text)>;

  PortSelectionDialog(int32_t port, const std::string& path, QWidget* parent = nullptr);

  int32_t Port() const;
  std::string Path() const;
  void SetComplaint(Complaint complaint) { complaint_ = std::move(complaint); }

  QLineEdit* portField() const { return port_; }
  QLineEdit* pathField() const { return path_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 public Q_SLOTS:
  void accept() override;

 private:
  QLineEdit* port_ = nullptr;
  QLineEdit* path_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  Complaint complaint_;
};

}  // namespace orvexa
