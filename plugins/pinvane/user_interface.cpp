#include "user_interface.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orvexa::pinvane {
namespace {

std::atomic<PinvanePortDialog> portDialog{nullptr};
std::atomic<PinvaneMessageBox> messageBox{nullptr};
constexpr int32_t kPathCapacity = 4096;

}  // namespace

void UserInterface::InstallPortDialog(PinvanePortDialog dialog) {
  portDialog = dialog;
}

void UserInterface::InstallMessageBox(PinvaneMessageBox box) {
  messageBox = box;
}

bool UserInterface::ChoosePort(PortChoice* choice) {
  PinvanePortDialog dialog = portDialog;
  if (dialog == nullptr) return false;
  int32_t index = choice->index;
  std::vector<char> path(kPathCapacity, '\0');
  std::strncpy(path.data(), choice->path.c_str(), kPathCapacity - 1);
  if (dialog(&index, path.data(), kPathCapacity) == 0) return false;
  path[kPathCapacity - 1] = '\0';  // whatever the window wrote, the text ends here
  choice->index = index;
  choice->path = path.data();
  return true;
}

void UserInterface::ShowMessage(const char* text, const char* caption) {
  PinvaneMessageBox box = messageBox;
  if (box != nullptr) {
    box(text, caption);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", caption, text);
  std::fflush(stderr);
}

void UserInterface::Debug(const std::string& line) {
  if (std::getenv("ORVEXA_DEBUG") == nullptr) return;
  std::fprintf(stderr, "Pinvane: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace orvexa::pinvane
