#include "support/mqtt_viewer.h"

#include <mosquitto.h>

namespace orvexa::test {

MqttViewer::MqttViewer(int port, std::string filter) : filter_(std::move(filter)) {
  mosquitto_lib_init();
  mosq_ = mosquitto_new(nullptr, true, this);
  mosquitto_connect_callback_set(mosq_, &MqttViewer::OnConnect);
  mosquitto_message_callback_set(mosq_, &MqttViewer::OnMessage);
  mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
  mosquitto_connect(mosq_, "127.0.0.1", port, 5);
  mosquitto_loop_start(mosq_);
}

MqttViewer::~MqttViewer() {
  mosquitto_disconnect(mosq_);
  mosquitto_loop_stop(mosq_, true);
  mosquitto_destroy(mosq_);
}

void MqttViewer::OnConnect(mosquitto* mosq, void* self, int rc) {
  if (rc == 0)
    mosquitto_subscribe(mosq, nullptr, static_cast<MqttViewer*>(self)->filter_.c_str(), 0);
}

void MqttViewer::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto* viewer = static_cast<MqttViewer*>(self);
  Message copy{message->topic,
               std::string(static_cast<const char*>(message->payload),
                           static_cast<size_t>(message->payloadlen)),
               message->retain};
  {
    std::lock_guard<std::mutex> hold(viewer->lock_);
    viewer->messages_.push_back(std::move(copy));
  }
  viewer->changed_.notify_all();
}

bool MqttViewer::WaitFor(const std::function<bool(const std::vector<Message>&)>& done,
                         std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, deadline, [&] { return done(messages_); });
}

std::vector<MqttViewer::Message> MqttViewer::Messages() {
  std::lock_guard<std::mutex> hold(lock_);
  return messages_;
}

}  // namespace orvexa::test
