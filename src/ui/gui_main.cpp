#include "ui/gui_main.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "app/server_application.h"
#include "platform/message_box.h"
#include "platform/operator_report.h"
#include "platform/termination_signals.h"
#include "ui/qt_operator_window.h"

namespace orvexa {
namespace {

void ShowModalBox(const QString& caption, const QString& text, MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon, caption,
                  text, QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

}  // namespace

void InstallGuiMessageBoxes() {
  SetMessageBoxHandler([](const std::string& caption, const std::string& text, MessageIcon icon) {
    // Also on standard error, for the terminal or journal the server was started from.
    ReportToOperator("%s: %s", caption.c_str(), text.c_str());
    if (qApp == nullptr) return;
    QString title = QString::fromStdString(caption);
    QString body = QString::fromStdString(text);
    if (QThread::currentThread() == qApp->thread()) {
      ShowModalBox(title, body, icon);
      return;
    }
    QMetaObject::invokeMethod(
        qApp, [title, body, icon] { ShowModalBox(title, body, icon); }, Qt::QueuedConnection);
  });
}

void RemoveGuiMessageBoxes() {
  SetMessageBoxHandler(nullptr);
}

int RunWithOperatorWindow(int argc, char** argv) {
  // Before the toolkit starts its threads (the X11 platform reads its connection on one):
  // a thread that does not block SIGINT/SIGTERM would take the signal with its default
  // action and end the process without the orderly shutdown.
  IoResult blocked = BlockTerminationSignals();
  if (!blocked.ok) ReportToOperator("Signal setup failed: %s", blocked.message.c_str());
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Orvexa"));
  // The run ends through the application's shutdown, not when a window closes.
  QApplication::setQuitOnLastWindowClosed(false);
  InstallGuiMessageBoxes();
  int status;
  {
    QtOperatorWindow window;
    ServerApplication server;
    server.SetOperatorWindow(&window);
    status = server.Run(argc, argv);
  }
  RemoveGuiMessageBoxes();
  return status;
}

}  // namespace orvexa
