#include "publish/publisher.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "base/server_lock.h"
#include "host/device_registry.h"
#include "logging/fast_sample_query.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/lock_guard.h"
#include "platform/mutex.h"
#include "platform/unique_lock.h"
#include "publish/broker_address.h"

namespace orvexa {

namespace {

constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";

}  // namespace

std::unique_ptr<Publisher> Publisher::Create(const PublishSettings& settings,
                                             DeviceRegistry& registry, PublishSources sources,
                                             std::string* error) {
  error->clear();
  if (settings.brokerUrl.empty()) return nullptr;
  std::string why;
  std::optional<BrokerAddress> address = BrokerAddress::Parse(settings.brokerUrl, &why);
  if (!address) {
    *error = "BrokerUrl \"" + settings.brokerUrl + "\" invalid: " + why;
    return nullptr;
  }
  if (!BrokerAddress::ValidLabId(settings.labId)) {
    *error = "LabId \"" + settings.labId +
             "\" invalid: publishing needs 1 to 64 characters without blanks, '/', '+' or '#'";
    return nullptr;
  }
  MqttLink::Options link;
  link.host = address->host;
  link.port = address->port;
  link.clientId = "orvexa-" + settings.labId;
  link.user = settings.brokerUser;
  if (!settings.brokerPasswordFile.empty()) {
    IoResult failure;
    std::optional<std::string> text = ReadWholeFile(settings.brokerPasswordFile, &failure);
    if (!text) {
      *error = "BrokerPasswordFile " + settings.brokerPasswordFile + ": " + failure.message;
      return nullptr;
    }
    link.password = text->substr(0, text->find_first_of("\r\n"));
  }
  link.willTopic = "orvexa/v1/" + settings.labId + "/status";
  link.willPayload = kOffline;
  return std::unique_ptr<Publisher>(
      new Publisher(settings, std::move(link), registry, std::move(sources)));
}

Publisher::Publisher(const PublishSettings& settings, MqttLink::Options link,
                     DeviceRegistry& registry, PublishSources sources)
    : valueRate_(std::clamp(settings.valueRate, 0, kMaxValueRate)),
      prefix_("orvexa/v1/" + settings.labId + "/"),
      registry_(registry),
      sources_(std::move(sources)),
      link_(std::move(link)) {}

Publisher::~Publisher() {
  Stop(std::chrono::hours(1));
}

std::string Publisher::TopicLevel(const std::string& id) {
  std::string level = id;
  for (char& c : level)
    if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) <= ' ') c = '_';
  return level;
}

bool Publisher::Start() {
  DescribeChannels();
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool Publisher::Stop(std::chrono::milliseconds wait) {
  if (!thread_.joinable()) return true;  // never started, stopped or left behind already
  UniqueLock<Mutex> hold(stopLock_);
  stopping_ = true;
  stopWake_.notify_all();
  // The thread may be inside a plug-in's read that never returns: shutdown goes on
  // without it then (the process ends without destroying what it can reach).
  if (!stopWake_.wait_for(hold, wait, [this]() REQUIRES(stopLock_) { return finished_; })) {
    thread_.detach();
    return false;
  }
  hold.unlock();
  thread_.join();
  return true;
}

void Publisher::DescribeChannels() {
  // The registry is fixed once the plug-ins are loaded; the fast settings are ServerLock's.
  LockGuard hold(ServerLock());
  const size_t count = std::min<size_t>(registry_.ChannelCount(), 0xFFFF);
  for (size_t index = 0; index < count; ++index) {
    const DeviceChannel& channel = registry_.Channel(index);
    LiveChannel live;
    live.number = static_cast<uint16_t>(index + 1);
    live.id = channel.id;
    live.description = channel.description;
    live.readable = channel.readable;
    live.writable = channel.writable;
    live.fastRate = channel.FastLogEnabled() ? std::clamp(channel.fastLogFrequency, 1, 3999) : 0;
    channels_.push_back(live);
    fastTopics_.push_back(Topic("fast/" + TopicLevel(channel.id)));
  }
  cursors_.resize(channels_.size());
  channelsJson_ = LiveFrames::Channels(channels_);
}

void Publisher::Run() {
  using Clock = std::chrono::steady_clock;
  auto nextFast = Clock::now();
  auto nextState = nextFast;
  auto nextValues = nextFast;
  const auto valuePeriod = valueRate_ > 0 ? std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(1.0 / valueRate_))
                                          : Clock::duration::max();
  for (;;) {
    {
      LockGuard hold(stopLock_);
      if (stopping_) break;
    }
    link_.Service(std::chrono::milliseconds(0));
    if (link_.Connected() && link_.Sessions() != sessionsSeen_) {
      // A new session: the retained topics again (the broker may have restarted empty).
      sessionsSeen_ = link_.Sessions();
      link_.Publish(Topic("status"), kOnline, true);
      link_.Publish(Topic("channels"), channelsJson_, true);
      PublishState(true);
    }
    auto now = Clock::now();
    if (now >= nextFast) {
      PublishFast();
      nextFast = std::max(nextFast + kFastPeriod, now);
    }
    if (valueRate_ > 0 && now >= nextValues) {
      PublishValues();
      nextValues = std::max(nextValues + valuePeriod, now);
    }
    if (now >= nextState) {
      PublishState(false);
      nextState = now + kStatePeriod;
    }
    now = Clock::now();
    auto due = std::min(nextFast, nextState);
    if (valueRate_ > 0) due = std::min(due, nextValues);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::max(due - now, Clock::duration::zero()));
    if (link_.HasSocket()) {
      link_.Service(std::min(wait, kFastPeriod));
    } else {
      UniqueLock<Mutex> hold(stopLock_);
      stopWake_.wait_for(hold, std::min(wait, kFastPeriod),
                         [this]() REQUIRES(stopLock_) { return stopping_; });
    }
  }
  if (link_.Connected()) link_.Publish(Topic("status"), kOffline, true);
  link_.Disconnect(std::chrono::milliseconds(1000));
  std::printf("Live data: %llu messages published, %llu dropped\n",
              static_cast<unsigned long long>(link_.Published()),
              static_cast<unsigned long long>(link_.Dropped()));
  std::fflush(stdout);
  LockGuard hold(stopLock_);
  finished_ = true;
  stopWake_.notify_all();
}

void Publisher::PublishFast() {
  std::vector<SampleLog::Sample> batch;
  for (size_t index = 0; index < channels_.size(); ++index) {
    DeviceChannel& channel = registry_.Channel(index);
    FastCursor& cursor = cursors_[index];
    uint32_t first = 0;
    batch.clear();
    {
      LockGuard hold(channel.fastSamplesLock);
      if (!channel.fastLogEnabled) {
        cursor.started = false;
        continue;
      }
      const uint32_t oldest = channel.fastSamples.OldestSequence();
      const uint32_t next = channel.fastSamples.NextSequence();
      if (!cursor.started) {
        // Viewers get what is sampled from now on; the ring's past is the direct path's.
        cursor = FastCursor{true, next};
        continue;
      }
      first = cursor.next;
      // Behind the ring (samples overwritten before they could be sent) or ahead of it
      // (the ring was reset): go on from the oldest held sample; viewers see the jump.
      if (!SequenceAtOrAfter(first, oldest) || !SequenceAtOrAfter(next, first)) first = oldest;
      const uint32_t count = next - first;
      batch.reserve(count);
      for (uint32_t i = 0; i < count; ++i)
        batch.push_back(channel.fastSamples.FromOldest(first - oldest + i));
      cursor.next = next;
    }
    // Published after the lock is released: the broker's pace never reaches the sampler.
    const double sendTime = CalendarSecondsPrecise();
    for (size_t start = 0; start < batch.size(); start += kMaxBatch) {
      const size_t count = std::min(kMaxBatch, batch.size() - start);
      link_.Publish(fastTopics_[index],
                    LiveFrames::FastBatch(first + static_cast<uint32_t>(start), &batch[start],
                                          count, sendTime),
                    false);
    }
  }
}

void Publisher::PublishValues() {
  if (!link_.Connected()) return;  // no plug-in reads for nobody
  std::vector<LiveValue> values;
  for (const LiveChannel& live : channels_) {
    if (!live.readable) continue;
    DeviceChannel& channel = registry_.Channel(live.number - 1u);
    UniqueLock<PriorityInheritanceMutex> hold(ServerLock(), std::defer_lock);
    // A burst or an operator's dialog holds the devices: this frame is skipped.
    if (!hold.try_lock_for(kValueLockWait)) return;
    values.push_back(LiveValue{live.number, channel.Read(0)});
  }
  link_.Publish(Topic("values"),
                LiveFrames::Values(valueFrame_++, CalendarSecondsPrecise(), values), true);
}

void Publisher::PublishState(bool force) {
  if (!link_.Connected()) return;
  if (sources_.control) {
    std::string control = LiveFrames::Control(sources_.control());
    if (force || control != lastControl_) {
      if (link_.Publish(Topic("control"), control, true)) lastControl_ = std::move(control);
    }
  }
  if (sources_.recordings) {
    std::string recordings = LiveFrames::Recordings(sources_.recordings());
    if (force || recordings != lastRecordings_) {
      if (link_.Publish(Topic("experiments"), recordings, true))
        lastRecordings_ = std::move(recordings);
    }
  }
}

}  // namespace orvexa
