// LiveFrames: the payloads the publisher sends to the broker. Samples are binary, little
// endian (a 1 kHz channel as JSON would cost about five times the bytes); the rest is
// JSON. The layouts are documented in the README ("Live data through a broker").
//
//   fast/<id>:  u32 first sequence, u32 count, f64 send time (calendar seconds),
//               count x (u32 millisecond tick, f32 value), oldest first, gap-free
//   values:     u32 frame number, f64 time (calendar seconds), u16 count,
//               count x (u16 channel number, f32 value)
//
// Pure functions, called on the publisher's thread; no state, no locks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "logging/sample_log.h"

namespace orvexa {

struct LiveChannel {
  uint16_t number = 0;  // the clients' channel number (registry position + 1)
  std::string id;
  std::string description;
  bool readable = false;
  bool writable = false;
  int32_t fastRate = 0;  // Hz while fast-logged, else 0
};

struct LiveValue {
  uint16_t number = 0;
  float value = 0;
};

// Who holds the devices: the non-observers in queue order (the front one controls when
// only one may), and how many clients are connected in all.
struct LiveControl {
  bool limitMultipleControl = false;
  std::vector<std::array<uint8_t, 4>> queue;
  size_t clients = 0;
  bool operator==(const LiveControl&) const = default;
};

struct LiveRecording {
  uint32_t id = 0;
  int64_t startTime = 0;
  std::array<uint8_t, 4> client{};
  bool operator==(const LiveRecording&) const = default;
};

class LiveFrames {
 public:
  static constexpr size_t kFastHeaderBytes = 16;
  static constexpr size_t kFastSampleBytes = 8;

  static std::string FastBatch(uint32_t firstSequence, const SampleLog::Sample* samples,
                               size_t count, double sendTime);
  static std::string Values(uint32_t frame, double time, const std::vector<LiveValue>& values);
  static std::string Channels(const std::vector<LiveChannel>& channels);
  static std::string Control(const LiveControl& control);
  static std::string Recordings(const std::vector<LiveRecording>& recordings);
  // "a.b.*.*": enough to tell a class's clients apart, not enough to find one.
  static std::string MaskedAddress(const std::array<uint8_t, 4>& address);
  // A JSON string literal (quotes included) of `text`.
  static std::string JsonString(const std::string& text);
};

}  // namespace orvexa
