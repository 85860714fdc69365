#include "support/mqtt_broker.h"

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace orvexa::test {

namespace {

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

MqttBroker::MqttBroker(const std::string& folder, const std::string& extraConfig)
    : folder_(folder + "/broker"), port_(FreePort()) {
  ::mkdir(folder_.c_str(), 0755);
  std::ofstream(folder_ + "/mosquitto.conf")
      << "listener " << port_ << " 127.0.0.1\n"
      << "allow_anonymous true\npersistence false\nlog_dest stderr\nlog_type error\n"
      << extraConfig;
  if (::geteuid() == 0) {
    if (const passwd* nobody = ::getpwnam("nobody")) {
      (void)::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid);
      (void)::chown(folder_.c_str(), nobody->pw_uid, nobody->pw_gid);
    }
  }
}

MqttBroker::~MqttBroker() {
  Stop();
}

bool MqttBroker::Start() {
  pid_ = ::fork();
  if (pid_ == 0) {
    if (::geteuid() == 0) {
      if (const passwd* nobody = ::getpwnam("nobody")) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
            ::setuid(nobody->pw_uid) != 0)
          ::_exit(126);
      }
    }
    if (::chdir(folder_.c_str()) != 0) ::_exit(126);
    const std::string config = folder_ + "/mosquitto.conf";
    ::execlp("mosquitto", "mosquitto", "-c", config.c_str(), static_cast<char*>(nullptr));
    ::execl("/usr/sbin/mosquitto", "mosquitto", "-c", config.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    if (Accepts(port_)) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void MqttBroker::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace orvexa::test
