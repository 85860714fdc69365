// MqttLink: the publisher's connection to the broker, over libmosquitto driven from the
// calling thread (no thread of libmosquitto's own): connecting and reconnecting with a
// growing pause (at most kMaxRetryPause, so publishing resumes soon after the broker
// returns), a retained last will, and publishing that never queues without bound: while
// the link is down, or while more than maxPendingBytes have been handed over and not yet
// written to the socket (a slow or stalled broker), a message is dropped and counted.
//
// One thread only (the publisher's): every member, and the libmosquitto callbacks, which
// run inside Service and Publish. No locks; the counters are atomics so that tests and
// status lines may read them from elsewhere.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct mosquitto;

namespace orvexa {

class MqttLink {
 public:
  static constexpr std::chrono::milliseconds kFirstRetryPause{250};
  static constexpr std::chrono::milliseconds kMaxRetryPause{2000};

  struct Options {
    std::string host;
    int port = 1883;
    std::string clientId;
    std::string user;      // empty: anonymous
    std::string password;  // with user
    std::string willTopic;
    std::string willPayload;
    int keepAliveSeconds = 5;
    size_t maxPendingBytes = 8 * 1024 * 1024;
  };

  explicit MqttLink(Options options);
  ~MqttLink();
  MqttLink(const MqttLink&) = delete;
  MqttLink& operator=(const MqttLink&) = delete;

  // Connects when a connection is due, then exchanges with the broker for up to `wait`
  // (returns at once without a socket).
  void Service(std::chrono::milliseconds wait);
  bool HasSocket() const { return socketOpen_; }
  // The broker accepted the session.
  bool Connected() const { return connected_; }
  // Counts accepted sessions: a new one needs the retained messages again.
  uint64_t Sessions() const { return sessions_; }
  // Hands the message over (QoS 0); false when it was dropped.
  bool Publish(const std::string& topic, const std::string& payload, bool retain);
  // Writes what is pending for at most `bound`, then says goodbye (the broker then does
  // not send the last will).
  void Disconnect(std::chrono::milliseconds bound);

  uint64_t Dropped() const { return dropped_.load(); }
  uint64_t Published() const { return published_.load(); }

 private:
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);
  void LinkLost(const std::string& reason);
  void ResetPending();

  Options options_;
  mosquitto* mosq_ = nullptr;
  bool socketOpen_ = false;
  bool connected_ = false;
  bool everConnected_ = false;
  bool outageReported_ = false;
  uint64_t sessions_ = 0;
  std::chrono::steady_clock::time_point nextAttempt_{};
  std::chrono::milliseconds retryPause_ = kFirstRetryPause;
  // Messages handed to libmosquitto and not yet written, by message id.
  std::unordered_map<int, size_t> pending_;
  size_t pendingBytes_ = 0;
  // Ids written out while mosquitto_publish still ran (before they could be recorded).
  bool inPublish_ = false;
  std::vector<int> writtenDuringPublish_;
  uint64_t droppedAtOutage_ = 0;
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> published_{0};
};

}  // namespace orvexa
