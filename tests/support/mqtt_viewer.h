// A test's MQTT subscriber: connects to a broker, subscribes to one filter (again after
// every reconnect) and keeps every message it receives, with its topic and whether the
// broker sent it as retained. libmosquitto's own thread receives; the test waits on the
// collected messages with a deadline.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace orvexa::test {

class MqttViewer {
 public:
  struct Message {
    std::string topic;
    std::string payload;
    bool retained = false;
  };

  MqttViewer(int port, std::string filter);
  ~MqttViewer();
  MqttViewer(const MqttViewer&) = delete;
  MqttViewer& operator=(const MqttViewer&) = delete;

  // Waits until `done` holds for the messages received so far.
  bool WaitFor(const std::function<bool(const std::vector<Message>&)>& done,
               std::chrono::milliseconds deadline = std::chrono::seconds(20));
  std::vector<Message> Messages();

 private:
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

  std::string filter_;
  mosquitto* mosq_ = nullptr;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Message> messages_;
};

}  // namespace orvexa::test
