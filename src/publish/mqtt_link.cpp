#include "publish/mqtt_link.h"

#include <mosquitto.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "platform/operator_report.h"

namespace orvexa {

namespace {

std::once_flag libraryReady;

// The library's texts end with a full stop; ours go inside a sentence.
std::string Reason(int rc) {
  if (rc == MOSQ_ERR_KEEPALIVE) return "no answer within the keep-alive time";
  std::string text = mosquitto_strerror(rc);
  if (!text.empty() && text.back() == '.') text.pop_back();
  if (rc == MOSQ_ERR_ERRNO) text += " (system error)";
  return text;
}

}  // namespace

MqttLink::MqttLink(Options options) : options_(std::move(options)) {
  std::call_once(libraryReady, [] { mosquitto_lib_init(); });
  mosq_ = mosquitto_new(options_.clientId.c_str(), true, this);
  if (mosq_ == nullptr) return;
  mosquitto_connect_callback_set(mosq_, &MqttLink::OnConnect);
  mosquitto_disconnect_callback_set(mosq_, &MqttLink::OnDisconnect);
  mosquitto_publish_callback_set(mosq_, &MqttLink::OnPublish);
  if (!options_.user.empty())
    mosquitto_username_pw_set(mosq_, options_.user.c_str(), options_.password.c_str());
  if (!options_.willTopic.empty())
    mosquitto_will_set(mosq_, options_.willTopic.c_str(),
                       static_cast<int>(options_.willPayload.size()), options_.willPayload.data(),
                       1, true);
}

MqttLink::~MqttLink() {
  if (mosq_ != nullptr) mosquitto_destroy(mosq_);
}

void MqttLink::Service(std::chrono::milliseconds wait) {
  if (mosq_ == nullptr) return;
  if (!socketOpen_) {
    const auto now = std::chrono::steady_clock::now();
    if (now < nextAttempt_) return;
    // The asynchronous forms do not wait for the TCP handshake: a broker whose address
    // swallows the SYN holds up neither this thread nor the shutdown.
    const int rc = everConnected_
                       ? mosquitto_reconnect_async(mosq_)
                       : mosquitto_connect_async(mosq_, options_.host.c_str(), options_.port,
                                                 options_.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
      LinkLost(Reason(rc));
      return;
    }
    // The reconnect needs a first connect to know where to go.
    everConnected_ = true;
    socketOpen_ = true;
  }
  const int rc = mosquitto_loop(mosq_, static_cast<int>(wait.count()), 1);
  if (rc != MOSQ_ERR_SUCCESS) LinkLost(Reason(rc));
}

void MqttLink::LinkLost(const std::string& reason) {
  if (socketOpen_) mosquitto_disconnect(mosq_);
  socketOpen_ = false;
  connected_ = false;
  ResetPending();
  nextAttempt_ = std::chrono::steady_clock::now() + retryPause_;
  retryPause_ = std::min(retryPause_ * 2, kMaxRetryPause);
  if (!outageReported_) {
    ReportToOperator("Warning: broker %s:%d: %s; live data is dropped until it answers",
                     options_.host.c_str(), options_.port, reason.c_str());
    outageReported_ = true;
    droppedAtOutage_ = dropped_.load();
  }
}

void MqttLink::ResetPending() {
  // libmosquitto frees the unsent packets of a lost connection when it reconnects.
  pending_.clear();
  pendingBytes_ = 0;
}

void MqttLink::OnConnect(mosquitto*, void* self, int rc) {
  auto* link = static_cast<MqttLink*>(self);
  if (rc != 0) {
    // Refused (bad password, not authorised): the broker closes; the loop reports it and
    // the next attempt waits its pause.
    link->LinkLost(std::string("connection refused: ") + mosquitto_connack_string(rc));
    return;
  }
  link->connected_ = true;
  ++link->sessions_;
  link->retryPause_ = kFirstRetryPause;
  if (link->outageReported_)
    std::printf("Broker %s:%d answers again; %llu live messages were dropped meanwhile\n",
                link->options_.host.c_str(), link->options_.port,
                static_cast<unsigned long long>(link->dropped_.load() - link->droppedAtOutage_));
  else
    std::printf("Publishing live data to %s:%d\n", link->options_.host.c_str(),
                link->options_.port);
  std::fflush(stdout);
  link->outageReported_ = false;
}

void MqttLink::OnDisconnect(mosquitto*, void* self, int) {
  auto* link = static_cast<MqttLink*>(self);
  link->connected_ = false;
}

void MqttLink::OnPublish(mosquitto*, void* self, int mid) {
  // For QoS 0 this is called once the message has been written to the socket.
  auto* link = static_cast<MqttLink*>(self);
  auto it = link->pending_.find(mid);
  if (it == link->pending_.end()) {
    if (link->inPublish_) link->writtenDuringPublish_.push_back(mid);
    return;
  }
  link->pendingBytes_ -= it->second;
  link->pending_.erase(it);
}

bool MqttLink::Publish(const std::string& topic, const std::string& payload, bool retain) {
  const size_t bytes = topic.size() + payload.size();
  if (!connected_ || pendingBytes_ + bytes > options_.maxPendingBytes) {
    ++dropped_;
    return false;
  }
  int mid = 0;
  writtenDuringPublish_.clear();
  inPublish_ = true;
  const int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                   payload.data(), 0, retain);
  inPublish_ = false;
  if (rc != MOSQ_ERR_SUCCESS) {
    ++dropped_;
    if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO)
      LinkLost(Reason(rc));
    return false;
  }
  ++published_;
  // The publish callback may already have run inside mosquitto_publish (the whole packet
  // went out at once): only what is still unwritten counts.
  if (std::find(writtenDuringPublish_.begin(), writtenDuringPublish_.end(), mid) ==
      writtenDuringPublish_.end()) {
    pending_[mid] = bytes;
    pendingBytes_ += bytes;
  }
  return true;
}

void MqttLink::Disconnect(std::chrono::milliseconds bound) {
  if (mosq_ == nullptr || !socketOpen_) return;
  const auto end = std::chrono::steady_clock::now() + bound;
  while (connected_ && pendingBytes_ > 0 && std::chrono::steady_clock::now() < end)
    if (mosquitto_loop(mosq_, 20, 1) != MOSQ_ERR_SUCCESS) break;
  mosquitto_disconnect(mosq_);
  mosquitto_loop(mosq_, 20, 1);
  socketOpen_ = false;
  connected_ = false;
}

}  // namespace orvexa
