#include "healthy_client.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <thread>

#include "platform/clock.h"

namespace orvexa::soak {
namespace {

struct BadReply : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void Expect(bool ok, const char* what) {
  if (!ok) throw BadReply(what);
}

uint32_t U32At(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(b[at + i]);
  return v;
}

float F32At(const std::string& b, size_t at) {
  return std::bit_cast<float>(U32At(b, at));
}

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool TimeNearNow(uint32_t t) {
  const int64_t now = CalendarSeconds();
  return t + int64_t{10} >= now && t <= now + 10;
}

}  // namespace

int64_t NowMs() {
  return MonotonicNanoseconds() / 1'000'000;
}

HealthyClient::HealthyClient(SoakContext& context, int index, uint32_t seed)
    : c_(context),
      index_(index),
      rng_(seed),
      websocket_(index % 2 == 1),
      observer_(index % 5 == 4),
      forwarded_(!observer_ && index % 7 == 3),
      owner_(1000 + index),
      fastChannel_(index % 3 == 0   ? context.sine
                   : index % 3 == 1 ? context.ramp
                                    : context.output) {}

void HealthyClient::Run() {
  bool counted = false;
  while (!c_.stopHealthy) {
    try {
      Connect();
      if (!counted) {
        // Warm-up: the largest reply and a recording at once, so that the server's
        // memory reaches its working size early in the run.
        History(1);
        for (int k = 0; k < 5 && !recording_; ++k) RecordingStep();
        ++c_.healthyConnected;
      }
      counted = true;
      while (!c_.stopHealthy) {
        Step();
        SleepMs(Uniform(60, 180));
      }
    } catch (const BadReply& e) {
      c_.stats.HealthyError("wrong reply", e.what());
    } catch (const std::exception& e) {
      c_.stats.HealthyError("connection failed", e.what());
    }
    client_.reset();
    recording_.reset();
    cursor_.reset();
    if (!c_.stopHealthy) SleepMs(200);
  }
}

void HealthyClient::Connect() {
  client_ = std::make_unique<client::ProtocolClient>();
  client_->set_timeout_ms(20000);
  client_->Connect("127.0.0.1", c_.port,
                   websocket_ ? client::Transport::kWebSocket : client::Transport::kTcp);
  const client::Address forwarded{10, 77, 0, static_cast<uint8_t>(index_)};
  Expect(client_->Hello(observer_ ? 3 : 1, forwarded_ ? &forwarded : nullptr, 100, "soak") == 0,
         "Hello not answered with 0");
  lastPollMs_ = NowMs();
}

void HealthyClient::Step() {
  // The fast stream is polled at least every 800 ms whatever else the client does.
  if (NowMs() - lastPollMs_ > 800) return FastPoll();
  const int r = Uniform(0, 99);
  if (r < 22) return FastPoll();
  if (r < 36) return ReadValues(false);
  if (r < 42) return ReadValues(true);
  if (r < 52) return Control();
  if (r < 55) return Listing();
  if (r < 61) return Find();
  if (r < 65) return Controllers();
  if (r < 75) return History(0);
  if (r < 79) return History(2);
  if (r < 80) return History(1);
  if (r < 84) return LastSamples();
  if (r < 92) return RecordingStep();
  if (r < 96) return Burst();
  return ListOwn();
}

void HealthyClient::FastPoll() {
  auto& cl = *client_;
  // Gap-free polling: a first read of the last 200 samples, then everything from the
  // newest sequence number seen plus one; times instead of sequence numbers (flag bit
  // 1), the trailing newest sequence number tells whether any sample was skipped.
  cl.U8(12).U16(fastChannel_).U8(cursor_ ? 3 : 2).U32(cursor_ ? *cursor_ : 200).U16(0).Send();
  const uint32_t n = cl.ReadU32();
  Expect(n <= 10000, "more fast samples than the buffer holds");
  const std::string body = cl.ReadBytes(size_t{n} * 8);
  const uint32_t newest = n > 0 ? cl.ReadU32() : 0;
  const int64_t after = NowMs();
  c_.stats.Served("ReadFastSamples");
  lastPollMs_ = after;
  if (n == 0) return;
  if (cursor_) {
    Expect(newest >= *cursor_, "fast samples older than the first one asked for");
    const uint64_t due = uint64_t{newest} - *cursor_ + 1;
    Expect(n <= due, "more fast samples than sequence numbers");
    if (n < due)
      c_.stats.HealthyError("fast stream lost samples", std::to_string(due - n) + " of channel " +
                                                            std::to_string(fastChannel_));
  }
  bool havePrevious = cursor_.has_value();
  int64_t previous = lastSampleMs_;
  for (uint32_t i = n; i-- > 0;) {  // the reply is newest first
    const uint32_t tick = U32At(body, 8 * size_t{i});
    Expect(c_.Plausible(fastChannel_, F32At(body, 8 * size_t{i} + 4)),
           "implausible fast sample value");
    const int64_t t = after - static_cast<uint32_t>(static_cast<uint32_t>(after) - tick);
    Expect(t > after - 20000, "fast sample time out of range");
    if (havePrevious) {
      Expect(t >= previous, "fast sample times go backwards");
      if (t - previous > c_.gapMs) c_.stats.FastGap(fastChannel_, previous, t);
    }
    previous = t;
    havePrevious = true;
  }
  cursor_ = newest + 1;
  lastSampleMs_ = previous;
}

void HealthyClient::LastSamples() {
  auto& cl = *client_;
  const uint16_t channel = AnyLogged();
  const uint32_t count = static_cast<uint32_t>(Uniform(1, 3000));
  const uint16_t most = Uniform(0, 1) ? 0 : static_cast<uint16_t>(Uniform(1, 500));
  cl.U8(12).U16(channel).U8(0).U32(count).U16(most).Send();
  const uint32_t n = cl.ReadU32();
  Expect(n <= count && (most == 0 || n <= most), "more fast samples than asked for");
  const std::string body = cl.ReadBytes(size_t{n} * 8);
  const uint32_t newest = n > 0 ? cl.ReadU32() : 0;
  c_.stats.Served("ReadFastSamples");
  // The 10000-sample buffer is full ten seconds after the start.
  if (CalendarSeconds() - c_.serverStart > 15)
    Expect(n == (most == 0 ? count : std::min<uint32_t>(count, most)),
           "fewer fast samples than asked for");
  for (uint32_t i = 0; i < n; ++i) {
    Expect(U32At(body, 8 * size_t{i}) == newest - i,
           "fast sample sequence numbers not consecutive");
    Expect(c_.Plausible(channel, F32At(body, 8 * size_t{i} + 4)), "implausible fast sample value");
  }
}

void HealthyClient::ReadValues(bool batch) {
  auto& cl = *client_;
  // Channel 0 and 999 are outside the registry: answered 0.0 and the time.
  auto pick = [&] {
    const int r = Uniform(0, 9);
    return static_cast<uint16_t>(r < 8 ? 1 + r % 4 : r == 8 ? 0 : 999);
  };
  const int count = batch ? 3 : 1;
  uint16_t channels[3];
  if (batch) cl.U8(10).U8(3).Send();
  for (int k = 0; k < count; ++k) {
    channels[k] = pick();
    cl.U8(5).U16(channels[k]).Send();
  }
  for (int k = 0; k < count; ++k) {
    const float value = cl.ReadF32();
    Expect(TimeNearNow(cl.ReadU32()), "ReadValue time far from now");
    if (channels[k] >= 1 && channels[k] <= 4)
      Expect(c_.Plausible(channels[k], value), "implausible channel value");
    else
      Expect(value == 0.0f, "ReadValue outside the registry not 0.0");
  }
  c_.stats.Served("ReadValue", count);
  if (batch) c_.stats.Served("BatchReplies");
}

void HealthyClient::Control() {
  auto& cl = *client_;
  const auto [state, time] = cl.ControlStatus();
  const int64_t before = CalendarSeconds();
  c_.stats.Served("ControlStatus");
  Expect(state == 0 || state == 1, "ControlStatus state neither 0 nor 1");
  if (observer_) return;
  const float value = static_cast<float>(index_ % 50) + static_cast<float>(writes_++ % 128) / 128;
  const bool timed = Uniform(0, 1) == 1;
  auto write = [&] {
    if (timed) {
      Expect(TimeNearNow(cl.WriteValueTimed(c_.setpoint, value)),
             "WriteValueTimed time far from now");
      c_.stats.Served("WriteValueTimed");
    } else {
      cl.WriteValue(c_.setpoint, value);
      c_.stats.Served("WriteValue");
    }
  };
  if (state == 1) {
    // A waiting client's write is ignored; the controller's read-back shows if it was not.
    if (Uniform(0, 3) == 0) write();
    return;
  }
  const uint32_t kNoLimit = 0xFFFFFFFF;
  if (time != kNoLimit && time < 2) return;
  write();
  const float back = cl.ReadValue(c_.setpoint).first;
  const auto [state2, time2] = cl.ControlStatus();
  const int64_t after = CalendarSeconds();
  c_.stats.Served("ReadValue");
  c_.stats.Served("ControlStatus");
  // Only within one turn of control is the read-back this client's own value.
  const bool sameTurn =
      state2 == 0 &&
      (time == kNoLimit ? time2 == kNoLimit
                        : time2 != kNoLimit && std::llabs((after + time2) - (before + time)) <= 1);
  if (!sameTurn) return c_.stats.Note("write in control not verified (turn changed)");
  Expect(back == value, "setpoint read back differs from the value its controller wrote");
}

void HealthyClient::Listing() {
  const auto channels = client_->ListChannels();
  c_.stats.Served("ListChannels");
  Expect(channels.size() == 4, "ListChannels does not list the four simulated channels");
  const char* ids[] = {"Simulator_Sine", "Simulator_Ramp", "Simulator_Setpoint",
                       "Simulator_Output"};
  const uint16_t numbers[] = {c_.sine, c_.ramp, c_.setpoint, c_.output};
  for (int k = 0; k < 4; ++k) {
    const auto& channel = channels[numbers[k] - 1];
    Expect(channel.id == ids[k], "ListChannels: channel ID moved");
    Expect(channel.flags == (k == 2 ? 3 : 1), "ListChannels: wrong access flags");
  }
}

void HealthyClient::Find() {
  struct Case {
    uint8_t code;
    const char* id;
    uint16_t expected;
    const char* kind;
  };
  const Case cases[] = {{3, "Simulator_Ramp", c_.ramp, "FindReadableChannel"},
                        {3, "burst_3", 1004, "FindReadableChannel"},
                        {4, "Simulator_Setpoint", c_.setpoint, "FindWritableChannel"},
                        {4, "Simulator_Sine", 0, "FindWritableChannel"},
                        {20, "Simulator_Output", c_.output, "FindChannel"},
                        {20, "No_such_channel", 0, "FindChannel"}};
  const Case& c = cases[Uniform(0, 5)];
  Expect(client_->FindChannel(c.code, c.id) == c.expected,
         "channel look-up answered a wrong number");
  c_.stats.Served(c.kind);
}

void HealthyClient::Controllers() {
  const auto addresses = client_->ListControllers();
  c_.stats.Served("ListControllers");
  Expect(!addresses.empty() && addresses.size() <= static_cast<size_t>(c_.maxClients),
         "ListControllers count out of range");
  for (const auto& a : addresses) {
    const bool local = a == client::Address{127, 0, 0, 1};
    const bool forwarded = a[0] == 10 && a[1] == 77 && a[2] == 0 && a[3] < c_.clients;
    Expect(local || forwarded, "ListControllers: an address no client has");
  }
}

void HealthyClient::History(int kind) {
  auto& cl = *client_;
  const uint16_t channel = kind == 0 ? AnyLogged() : c_.sine;
  const int64_t before = CalendarSeconds();
  const uint32_t prefillEnd = c_.prefillStart + c_.prefillCount;
  uint32_t span = 0, start = 0, window = 0, code = 24;
  if (kind == 0) {
    span = static_cast<uint32_t>(Uniform(5, 120));
    cl.U8(8).U16(channel).U32(span).U16(0).U32(0).Send();
  } else if (kind == 1) {
    span = static_cast<uint32_t>(before - c_.prefillStart + 60);
    cl.U8(8).U16(channel).U32(span).U16(0).U32(0).Send();
  } else {
    start = c_.prefillStart +
            static_cast<uint32_t>(Uniform(0, static_cast<int>(c_.prefillCount) - 4000));
    window = static_cast<uint32_t>(Uniform(10, 3600));
    code = Uniform(0, 1) ? 24 : 25;
    cl.U8(8).U16(channel).U32(start).U16(2).U32(code << 24 | window).Send();
  }
  const uint32_t n = cl.ReadU32();
  Expect(n <= 131072, "history reply above 131072 samples");
  const std::string body = cl.ReadBytes(size_t{n} * 8);
  const int64_t after = CalendarSeconds();
  c_.stats.Served("ReadHistory");

  std::vector<std::pair<uint32_t, int32_t>> run;
  uint32_t previous = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t t = U32At(body, 8 * size_t{i});
    const float value = F32At(body, 8 * size_t{i} + 4);
    Expect(t >= previous, "history times go backwards");
    previous = t;
    if (channel == c_.sine && t < prefillEnd) {
      Expect(t >= c_.prefillStart, "history sample older than the log");
      Expect(value * 256 == SoakContext::PrefillFixed(t - c_.prefillStart),
             "history of the prefilled log changed a value");
    } else {
      Expect(t + int64_t{1} >= c_.serverStart && t <= after + 1,
             "history sample time outside the run");
      Expect(c_.Plausible(channel, value), "implausible history value");
      run.emplace_back(t, static_cast<int32_t>(value * 256));
    }
  }
  if (kind == 0) {
    Expect(n == 0 || U32At(body, 0) + int64_t{1} >= before - span,
           "history older than the span asked for");
    Expect(n <= 2 * span + 4, "more history records than seconds asked for");
    // Once a span lies inside the logged time, it must be covered about once a second.
    if (channel == c_.sine || before - c_.serverStart > span + 5)
      Expect(n + 5 >= span, "history of the last seconds misses records");
  } else if (kind == 1) {
    Expect(n == 131072, "history above the cap not cut to 131072 samples");
    for (uint32_t i = 0; i < n; ++i)
      Expect(U32At(body, 8 * size_t{i}) == c_.prefillStart + i,
             "capped history: not the oldest records");
  } else {
    const uint32_t step = code == 24 ? 1 : 60;
    Expect(n == window / step + 1, "thinned history window: wrong sample count");
    for (uint32_t i = 0; i < n; ++i)
      Expect(U32At(body, 8 * size_t{i}) == start + step * i, "thinned history window: wrong times");
  }
  if (!run.empty()) {
    std::lock_guard<std::mutex> hold(c_.seenLock);
    c_.seen[channel].insert(run.begin(), run.end());
  }
}

void HealthyClient::RecordingStep() {
  auto& cl = *client_;
  if (!recording_) {
    if (Uniform(0, 2) != 0) return ListOwn();
    Recording r;
    r.capacity = Uniform(0, 1) ? 500 : 3000;
    r.ring = Uniform(0, 1) == 1;
    r.autoStop = Uniform(0, 3) == 0;
    r.stopAfterMs = Uniform(1500, 4000);
    for (uint16_t ch : {c_.sine, c_.ramp, c_.output})
      if (Uniform(0, 1) || (r.channels.empty() && ch == c_.output)) r.channels.push_back(ch);
    std::sort(r.channels.begin(), r.channels.end());
    cl.U8(13).U32(owner_).U32(0).U32(r.capacity).U32(r.autoStop ? 1 : 0).U8(r.ring ? 1 : 0);
    cl.U16(static_cast<uint16_t>(r.channels.size()));
    for (uint16_t ch : r.channels) cl.U16(ch);
    cl.Send();
    r.id = cl.ReadU32();
    r.startMs = NowMs();
    c_.stats.Served("StartRecording");
    Expect(r.id != 0 && r.id != 0xFFFFFFFF, "StartRecording refused");
    myIds_.insert(r.id);
    recording_ = r;
    return;
  }
  const Recording& r = *recording_;
  const int64_t elapsed = NowMs() - r.startMs;
  auto isRecording = [&] {
    cl.U8(18).U32(r.id).Send();
    c_.stats.Served("IsRecording");
    return cl.ReadU8();
  };
  if (elapsed < (r.autoStop ? 5000 : r.stopAfterMs)) {
    if (Uniform(0, 1)) return ReadRecording(0);
    // Another client's 101st experiment may have evicted it.
    const uint8_t running = isRecording();
    Expect(running == 1 || r.autoStop || !Listed(r.id), "a recording stopped by itself");
    return;
  }
  cl.U8(14).Send();
  const uint32_t stopped = cl.ReadU32();
  c_.stats.Served("StopRecording");
  if (r.autoStop) {
    Expect(stopped == 0xFFFFFFFF,
           "StopRecording after the plug-in ended the experiment not refused");
  } else if (stopped == 0xFFFFFFFF && !Listed(r.id)) {
    // Evicted by the 101st experiment while it ran: the connection records nothing now.
    c_.stats.Note("recording evicted by newer experiments");
    recording_.reset();
    return;
  } else {
    Expect(stopped == r.id, "StopRecording answered another experiment");
  }
  Expect(isRecording() == 0, "experiment still recording after its stop");
  ReadRecording(r.autoStop ? 0 : elapsed);
  recording_.reset();
}

// recordedMs > 0: the recording has stopped after that long.
void HealthyClient::ReadRecording(int64_t recordedMs) {
  auto& cl = *client_;
  const Recording& r = *recording_;
  const uint32_t count = static_cast<uint32_t>(Uniform(100, 4000));
  cl.U8(15).U32(r.id).U32(static_cast<uint32_t>(r.channels.size()));
  for (uint16_t ch : r.channels) cl.U16(ch).U32(0).U32(count);
  cl.Send();
  const uint32_t k = cl.ReadU32();
  c_.stats.Served("ReadExperiment");
  if (k == 0xFFFFFFFF) {
    Expect(!Listed(r.id), "ReadExperiment does not find a listed experiment");
    return c_.stats.Note("recording evicted by newer experiments");
  }
  Expect(k == r.channels.size(), "ReadExperiment: wrong number of channels");
  for (uint16_t ch : r.channels) {
    Expect(cl.ReadU16() == ch, "ReadExperiment: channels not in ascending order");
    const uint32_t stored = cl.ReadU32();
    const uint32_t j = cl.ReadU32();
    Expect(stored <= r.capacity && j <= stored && j <= count,
           "ReadExperiment: counts out of range");
    if (!r.ring)
      Expect(j == std::min(stored, count), "ReadExperiment: window misses stored samples");
    // At 1000 Hz a recording longer than its capacity (plus 1.5 s for bursts, which hold
    // the devices) has filled it; what is missing was never sampled.
    if (recordedMs > r.capacity + 1500 && stored < r.capacity)
      c_.stats.HealthyError("recording missed samples", std::to_string(r.capacity - stored) +
                                                            " of " + std::to_string(r.capacity) +
                                                            " after " + std::to_string(recordedMs) +
                                                            " ms (fast sampler stalled)");
    const std::string body = cl.ReadBytes(size_t{j} * 12);
    for (uint32_t i = 0; i < j; ++i) {
      const uint32_t seq = U32At(body, 12 * size_t{i});
      Expect(seq < count && (i == 0 || seq == U32At(body, 12 * size_t{i - 1}) + 1),
             "ReadExperiment: sequence numbers not consecutive");
      Expect(i == 0 || U32At(body, 12 * size_t{i} + 4) >= U32At(body, 12 * size_t{i - 1} + 4),
             "ReadExperiment: relative times go backwards");
      Expect(c_.Plausible(ch, F32At(body, 12 * size_t{i} + 8)),
             "ReadExperiment: implausible value");
    }
  }
}

bool HealthyClient::Listed(uint32_t id) {
  auto& cl = *client_;
  cl.U8(16).U32(owner_).U32(id).U32(id).Send();
  const uint32_t k = cl.ReadU32();
  cl.ReadBytes(size_t{k} * 17);
  c_.stats.Served("ListExperiments");
  return k > 0;
}

void HealthyClient::Burst() {
  auto& cl = *client_;
  {
    std::lock_guard<std::mutex> hold(c_.burstLock);
    if (c_.burstRunning || NowMs() - c_.lastBurstEndMs < SoakContext::kBurstSpacingMs)
      return ReadValues(false);
    c_.burstRunning = true;
  }
  const uint32_t duration = static_cast<uint32_t>(Uniform(20, 200));
  const int64_t begin = NowMs();
  const size_t span = c_.stats.BurstBegin(begin);
  uint32_t id = 0;
  try {
    cl.U8(17).Str("sweep").U32(duration).Send();
    id = cl.ReadU32();
  } catch (...) {
    std::lock_guard<std::mutex> hold(c_.burstLock);
    c_.burstRunning = false;
    throw;
  }
  const int64_t end = NowMs();
  c_.stats.BurstEnd(span, end);
  {
    std::lock_guard<std::mutex> hold(c_.burstLock);
    c_.burstRunning = false;
    c_.lastBurstEndMs = end;
  }
  c_.stats.Served("RunBurst");
  Expect(end - begin + 2 >= duration, "burst answered before its duration");
  // One column of the sweep: column k holds sin(2 pi (k + 1) i / n).
  const int column = Uniform(0, 7);
  cl.U8(15).U32(id).U32(1).U16(static_cast<uint16_t>(1001 + column)).U32(0).U32(duration).Send();
  const uint32_t k = cl.ReadU32();
  c_.stats.Served("ReadExperiment");
  if (k == 0xFFFFFFFF) return c_.stats.Note("burst evicted before it was read");
  Expect(k == 1 && cl.ReadU16() == 1001 + column, "burst read: wrong slot");
  Expect(cl.ReadU32() == duration && cl.ReadU32() == duration,
         "burst: not one sample per millisecond");
  const std::string body = cl.ReadBytes(size_t{duration} * 12);
  for (uint32_t i = 0; i < duration; ++i) {
    const double expected = std::sin(2 * std::numbers::pi * (column + 1) * i / duration);
    Expect(U32At(body, 12 * size_t{i}) == i && U32At(body, 12 * size_t{i} + 4) == i,
           "burst: sequence or time wrong");
    Expect(std::abs(F32At(body, 12 * size_t{i} + 8) - expected) < 1e-5, "burst: sweep value wrong");
  }
}

void HealthyClient::ListOwn() {
  auto& cl = *client_;
  cl.U8(16).U32(owner_).U32(0).U32(0).Send();
  const uint32_t k = cl.ReadU32();
  c_.stats.Served("ListExperiments");
  Expect(k <= 200, "ListExperiments: more experiments than the store keeps");
  const client::Address mine = forwarded_ ? client::Address{10, 77, 0, static_cast<uint8_t>(index_)}
                                          : client::Address{127, 0, 0, 1};
  for (uint32_t i = 0; i < k; ++i) {
    const uint32_t id = cl.ReadU32();
    const uint8_t running = cl.ReadU8();
    cl.ReadU32();
    cl.ReadU32();
    client::Address address;
    for (auto& b : address) b = cl.ReadU8();
    Expect(myIds_.count(id) == 1, "ListExperiments: an experiment this owner never started");
    Expect(running == 0 || (recording_ && recording_->id == id),
           "ListExperiments: an experiment of this owner still records");
    Expect(address == mine, "ListExperiments: wrong client address");
  }
}

}  // namespace orvexa::soak
