#include "platform/message_box.h"

#include "platform/operator_report.h"

namespace orvexa {
namespace {

MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}

}  // namespace

void ShowMessageBox(const std::string& caption, const std::string& text, MessageIcon icon) {
  if (Handler()) {
    Handler()(caption, text, icon);
    return;
  }
  ReportToOperator("%s: %s", caption.c_str(), text.c_str());
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
  Handler() = std::move(handler);
}

}  // namespace orvexa
