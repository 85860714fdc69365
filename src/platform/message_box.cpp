#include "platform/message_box.h"

#include <cstdio>

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
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
  Handler() = std::move(handler);
}

}  // namespace orvexa
