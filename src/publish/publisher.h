// Publisher: the server's live data for a whole class of viewers, sent to an MQTT broker
// under orvexa/v1/<LabId>/: status (retained, "online"; the last will "offline"),
// channels (retained JSON), values (every readable channel in one retained binary frame
// at PublishValueRate), fast/<channel ID> (every fast-logged channel's new samples,
// gap-free by sequence number, every kFastPeriod), control and experiments (retained
// JSON, on change). Viewers never reach the server itself; control, writes and
// experiments stay on the direct connections.
//
// One thread of its own (Start .. Stop), which also drives the broker connection
// (MqttLink). Locks: it reads a channel's fast-sample ring under that channel's
// fastSamplesLock, copying only the samples it has not sent, and publishes after
// releasing it (the sampler never waits: it only tries that lock); it calls a plug-in
// only for the values, holding ServerLock for one read at a time and waiting for it at
// most kValueLockWait (a burst that holds the devices skips value frames, not fast
// samples); the sources for control and experiments take their own leaf locks. Nothing
// else is held while it talks to the broker, and everything it queues is bounded.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "publish/live_frames.h"
#include "publish/mqtt_link.h"

namespace orvexa {

class DeviceRegistry;

// The OrvexaConfig keys of publishing, as ServerSettings holds them.
struct PublishSettings {
  std::string brokerUrl;  // empty: no publishing
  std::string brokerUser;
  std::string brokerPasswordFile;  // its first line is the password
  std::string labId;
  int32_t valueRate = 2;  // Hz; 0: no values frames
};

// What the publisher reads beyond the channels; each takes its own lock and calls no
// plug-in. Empty functions publish nothing for their topic.
struct PublishSources {
  std::function<LiveControl()> control;
  std::function<std::vector<LiveRecording>()> recordings;
};

class Publisher {
 public:
  static constexpr std::chrono::milliseconds kFastPeriod{50};
  static constexpr std::chrono::milliseconds kStatePeriod{250};
  static constexpr std::chrono::milliseconds kValueLockWait{20};
  static constexpr int32_t kMaxValueRate = 50;
  // Samples per fast message; a longer backlog (after a stall) goes out in pieces.
  static constexpr size_t kMaxBatch = 8192;

  // Checks the settings and reads the password file. Null and a message for the operator
  // in *error when they are wrong; null without a message when BrokerUrl is empty.
  static std::unique_ptr<Publisher> Create(const PublishSettings& settings,
                                           DeviceRegistry& registry, PublishSources sources,
                                           std::string* error);
  ~Publisher();  // Stop
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;

  // After the plug-ins are loaded (the channel list is fixed from then on).
  bool Start();
  // Publishes "offline", disconnects and joins the thread (about a second), waiting at
  // most `wait`; false when the thread is still busy then (a plug-in's read that does
  // not return): it is left running, detached.
  bool Stop(std::chrono::milliseconds wait);

  uint64_t Dropped() const { return link_.Dropped(); }
  std::string Topic(const std::string& leaf) const { return prefix_ + leaf; }
  // A channel ID as one topic level: blanks and the characters MQTT reserves become '_'.
  static std::string TopicLevel(const std::string& id);

 private:
  struct FastCursor {
    bool started = false;
    uint32_t next = 0;  // sequence of the next sample to send
  };

  Publisher(const PublishSettings& settings, MqttLink::Options link, DeviceRegistry& registry,
            PublishSources sources);
  void Run();
  void DescribeChannels();
  void PublishFast();
  void PublishValues();
  void PublishState(bool force);

  const int32_t valueRate_;
  const std::string prefix_;
  DeviceRegistry& registry_;
  PublishSources sources_;
  MqttLink link_;

  // Publisher thread only.
  std::vector<LiveChannel> channels_;
  std::vector<std::string> fastTopics_;
  std::vector<FastCursor> cursors_;
  std::string channelsJson_;
  uint32_t valueFrame_ = 0;
  uint64_t sessionsSeen_ = 0;
  std::string lastControl_;
  std::string lastRecordings_;

  Mutex stopLock_;  // for the waits on stopping_ and finished_
  std::condition_variable_any stopWake_;
  bool stopping_ GUARDED_BY(stopLock_) = false;
  bool finished_ GUARDED_BY(stopLock_) =
      false;  // the thread has published "offline" and disconnected
  std::thread thread_;
};

}  // namespace orvexa
