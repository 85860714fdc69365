// The server's message box. Start-up failures and a few warnings are shown to the
// operator through ShowMessageBox. Headless (the default) it prints one line
// "Caption: text" on standard error; the GUI replaces the handler with a modal box.
//
// Called from the main thread (start-up, shutdown, windows). The handler is installed
// once before start-up and read without a lock.
#pragma once

#include <functional>
#include <string>

namespace orvexa {

enum class MessageIcon { None, Stop };

using MessageBoxHandler =
    std::function<void(const std::string& caption, const std::string& text, MessageIcon)>;

// Shows `text` with `caption` and waits until the operator has seen it (headless: returns
// at once after printing).
void ShowMessageBox(const std::string& caption, const std::string& text,
                    MessageIcon icon = MessageIcon::None);
// Replaces the handler; an empty function restores the headless line on standard error.
void SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace orvexa
