#include "ui/plugin_dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <cstring>
#include <map>
#include <string>

#include "host/device_registry.h"
#include "platform/operator_report.h"
#include "ui/port_selection_dialog.h"

namespace orvexa {
namespace {

using PortDialogFunction = int (*)(int32_t*, char*, int32_t);
using MessageBoxFunction = void (*)(const char*, const char*);
using SetPortDialog = void (*)(PortDialogFunction);
using SetMessageBox = void (*)(MessageBoxFunction);

constexpr const char* kSetPortDialog = "PinvaneSetPortDialog";
constexpr const char* kSetMessageBox = "PinvaneSetMessageBox";

bool OnMainThread() {
  return qApp != nullptr && QThread::currentThread() == qApp->thread();
}

// Boxes open now, by caption and text (main thread only): a reader that retries every
// few seconds does not pile up boxes.
std::map<std::string, QPointer<QMessageBox>>& OpenBoxes() {
  static std::map<std::string, QPointer<QMessageBox>> boxes;
  return boxes;
}

void ShowBoxOnMainThread(const QString& text, const QString& caption) {
  std::string key = caption.toStdString() + '\n' + text.toStdString();
  QPointer<QMessageBox>& open = OpenBoxes()[key];
  if (open) return;
  auto* box = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  open = box;
  box->show();
}

void Install(DeviceRegistry& registry, PortDialogFunction dialog, MessageBoxFunction message) {
  for (int slot = 0; slot < registry.PluginCount(); ++slot) {
    DevicePlugin& plugin = registry.Plugin(slot);
    if (!plugin.module.IsValid()) continue;
    if (auto set = reinterpret_cast<SetPortDialog>(plugin.module.Symbol(kSetPortDialog)))
      set(dialog);
    if (auto set = reinterpret_cast<SetMessageBox>(plugin.module.Symbol(kSetMessageBox)))
      set(message);
  }
}

}  // namespace

void InstallPluginDialogs(DeviceRegistry& registry) {
  Install(registry, &OrvexaPortSelectionDialog, &OrvexaPluginMessageBox);
}

void RemovePluginDialogs(DeviceRegistry& registry) {
  Install(registry, nullptr, nullptr);
}

}  // namespace orvexa

extern "C" int OrvexaPortSelectionDialog(int32_t* portIndex, char* portPath, int32_t pathCapacity) {
  if (portIndex == nullptr || !orvexa::OnMainThread()) return 0;
  std::string path;
  if (portPath != nullptr && pathCapacity > 0)
    path.assign(portPath, strnlen(portPath, pathCapacity));
  orvexa::PortSelectionDialog dialog(*portIndex, path, QApplication::activeWindow());
  if (dialog.exec() != QDialog::Accepted) return 0;
  *portIndex = dialog.Port();
  if (portPath != nullptr && pathCapacity > 0) {
    std::string chosen = dialog.Path();
    // A path that does not fit is not cut short into another device's name: the old
    // one stays.
    if (chosen.size() < static_cast<size_t>(pathCapacity))
      std::memcpy(portPath, chosen.c_str(), chosen.size() + 1);
  }
  return 1;
}

extern "C" void OrvexaPluginMessageBox(const char* text, const char* caption) {
  QString body = QString::fromUtf8(text != nullptr ? text : "");
  QString title = QString::fromUtf8(caption != nullptr ? caption : "");
  orvexa::ReportToOperator("%s: %s", title.toLocal8Bit().constData(),
                           body.toLocal8Bit().constData());
  if (qApp == nullptr) return;
  QMetaObject::invokeMethod(
      qApp, [body, title] { orvexa::ShowBoxOnMainThread(body, title); }, Qt::QueuedConnection);
}
