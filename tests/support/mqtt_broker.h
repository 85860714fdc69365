// A private Mosquitto broker for one test: its own folder and configuration, a listener
// on a free 127.0.0.1 port, no persistence. As root it runs as `nobody` in a folder that
// user owns (Mosquitto started as root would switch to its own user and could not write
// the test's folder). Stop and Start again keep the port, to test a broker that goes
// away and returns.
#pragma once

#include <sys/types.h>

#include <string>

namespace orvexa::test {

class MqttBroker {
 public:
  // `folder` must exist; the broker's files go into folder/broker. `extraConfig` is
  // appended to the configuration (ACLs, password file).
  explicit MqttBroker(const std::string& folder, const std::string& extraConfig = "");
  ~MqttBroker();  // stops the broker
  MqttBroker(const MqttBroker&) = delete;
  MqttBroker& operator=(const MqttBroker&) = delete;

  int port() const { return port_; }
  std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
  // Starts the broker and waits (bounded) until it accepts connections; false if not.
  bool Start();
  // SIGTERM and wait.
  void Stop();

 private:
  std::string folder_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace orvexa::test
