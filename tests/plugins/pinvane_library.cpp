#include "pinvane_library.h"

#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/dynamic_library.h"

namespace orvexa::test {
namespace {

std::mutex dialogLock;
bool dialogConfirm = false;
int32_t dialogIndex = 0;
std::string dialogPath;
std::atomic<int> dialogCalls{0};

int ScriptedDialog(int32_t* portIndex, char* portPath, int32_t pathCapacity) {
  ++dialogCalls;
  std::lock_guard<std::mutex> hold(dialogLock);
  if (!dialogConfirm) return 0;
  *portIndex = dialogIndex;
  std::snprintf(portPath, static_cast<size_t>(pathCapacity), "%s", dialogPath.c_str());
  return 1;
}

}  // namespace

const PinvaneLibrary& PinvaneLibrary::Get() {
  static PinvaneLibrary library = [] {
    PinvaneLibrary loaded;
    std::string path = std::string(ORVEXA_BUILD_DIR) + "/Pinvane.ldp";
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      ADD_FAILURE() << "dlopen " << path << ": " << dlerror();
      return loaded;
    }
    loaded.init = reinterpret_cast<LDPInitFunction>(dlsym(module, "LDPInit"));
    loaded.done = reinterpret_cast<LDPDoneFunction>(dlsym(module, "LDPDone"));
    loaded.queryInfo = reinterpret_cast<LDPQueryInfoFunction>(dlsym(module, "LDPQueryInfo"));
    loaded.config = reinterpret_cast<LDPConfigFunction>(dlsym(module, "LDPConfig"));
    loaded.message = reinterpret_cast<LDPMessageFunction>(dlsym(module, "LDPMessage"));
    loaded.setPortDialog =
        reinterpret_cast<void (*)(PinvanePortDialog)>(dlsym(module, "PinvaneSetPortDialog"));
    loaded.setMessageBox =
        reinterpret_cast<void (*)(PinvaneMessageBox)>(dlsym(module, "PinvaneSetMessageBox"));
    for (int i = 5; i < 11; ++i) loaded.optional[i - 5] = dlsym(module, kEntryPointNames[i]);
    return loaded;
  }();
  return library;
}

PinvaneInstance::PinvaneInstance(ConfigValue* section) {
  std::string error;
  auto module = DynamicLibrary::Load(std::string(ORVEXA_BUILD_DIR) + "/Pinvane.ldp", &error);
  if (!module) {
    ADD_FAILURE() << error;
    return;
  }
  channelCount_ = plugin_.Bind(*module, section, nullptr);
  for (int n = 1; n <= 3; ++n) EXPECT_TRUE(plugin_.QueryChannel(n, channels_[n - 1])) << n;
}

float PinvaneInstance::Input() const {
  return channels_[0].Read(1);
}

float PinvaneInstance::Output(int index) const {
  return channels_[1 + index].Read(0);
}

void PinvaneInstance::Write(int index, float value) const {
  channels_[1 + index].Write(value);
}

void PinvaneInstance::Config(int what, ConfigValue* section) const {
  const_cast<DevicePlugin&>(plugin_).Configure(what, section);
}

std::set<pid_t> ProcessTasks() {
  std::set<pid_t> tasks;
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return tasks;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') tasks.insert(static_cast<pid_t>(std::atoi(entry->d_name)));
  }
  closedir(dir);
  return tasks;
}

pid_t NewTask(const std::set<pid_t>& before, const std::set<pid_t>& after) {
  pid_t found = -1;
  for (pid_t tid : after) {
    if (before.count(tid) != 0) continue;
    std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name != "pinvane-reader") continue;
    if (found != -1) return -1;
    found = tid;
  }
  return found;
}

double TaskCpuSeconds(pid_t tid) {
  std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The command name may hold spaces; the fields after it start at the last ')'.
  size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  long long utime = 0, stime = 0;
  // Fields 3..13 precede utime (14) and stime (15).
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::atoll(field.c_str());
    if (i == 15) stime = std::atoll(field.c_str());
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void ScriptPortDialog(bool confirm, int32_t index, const std::string& path) {
  {
    std::lock_guard<std::mutex> hold(dialogLock);
    dialogConfirm = confirm;
    dialogIndex = index;
    dialogPath = path;
  }
  PinvaneLibrary::Get().setPortDialog(ScriptedDialog);
}

int PortDialogCalls() {
  return dialogCalls;
}

}  // namespace orvexa::test
