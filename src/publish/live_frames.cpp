#include "publish/live_frames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvexa {

namespace {

void PutU16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void PutU32(std::string& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void PutF32(std::string& out, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutU32(out, bits);
}

void PutF64(std::string& out, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutU32(out, static_cast<uint32_t>(bits));
  PutU32(out, static_cast<uint32_t>(bits >> 32));
}

}  // namespace

std::string LiveFrames::FastBatch(uint32_t firstSequence, const SampleLog::Sample* samples,
                                  size_t count, double sendTime) {
  std::string out;
  out.reserve(kFastHeaderBytes + count * kFastSampleBytes);
  PutU32(out, firstSequence);
  PutU32(out, static_cast<uint32_t>(count));
  PutF64(out, sendTime);
  for (size_t i = 0; i < count; ++i) {
    PutU32(out, samples[i].time);
    PutF32(out, samples[i].value);
  }
  return out;
}

std::string LiveFrames::Values(uint32_t frame, double time, const std::vector<LiveValue>& values) {
  std::string out;
  out.reserve(14 + values.size() * 6);
  PutU32(out, frame);
  PutF64(out, time);
  PutU16(out, static_cast<uint16_t>(values.size()));
  for (const LiveValue& v : values) {
    PutU16(out, v.number);
    PutF32(out, v.value);
  }
  return out;
}

std::string LiveFrames::JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      // Plug-in texts are not promised to be UTF-8; bytes above 0x7F pass as they are.
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

std::string LiveFrames::MaskedAddress(const std::array<uint8_t, 4>& address) {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + ".*.*";
}

std::string LiveFrames::Channels(const std::vector<LiveChannel>& channels) {
  std::string out = "{\"channels\":[";
  for (size_t i = 0; i < channels.size(); ++i) {
    const LiveChannel& c = channels[i];
    if (i > 0) out += ",";
    std::string access = std::string(c.readable ? "r" : "") + (c.writable ? "w" : "");
    out += "{\"number\":" + std::to_string(c.number) + ",\"id\":" + JsonString(c.id) +
           ",\"description\":" + JsonString(c.description) + ",\"access\":\"" + access +
           "\",\"fastRate\":" + std::to_string(c.fastRate) + "}";
  }
  return out + "]}";
}

std::string LiveFrames::Control(const LiveControl& control) {
  // Without LimitMultipleControl every non-observer may write; with it only the front one.
  const size_t controlling = control.limitMultipleControl
                                 ? std::min<size_t>(1, control.queue.size())
                                 : control.queue.size();
  std::string inControl, waiting;
  for (size_t i = 0; i < control.queue.size(); ++i) {
    std::string& list = i < controlling ? inControl : waiting;
    if (!list.empty()) list += ",";
    list += "\"" + MaskedAddress(control.queue[i]) + "\"";
  }
  return std::string("{\"limitMultipleControl\":") +
         (control.limitMultipleControl ? "true" : "false") + ",\"inControl\":[" + inControl +
         "],\"queue\":[" + waiting + "],\"clients\":" + std::to_string(control.clients) + "}";
}

std::string LiveFrames::Recordings(const std::vector<LiveRecording>& recordings) {
  std::string out = "{\"recording\":[";
  for (size_t i = 0; i < recordings.size(); ++i) {
    const LiveRecording& r = recordings[i];
    if (i > 0) out += ",";
    out += "{\"id\":" + std::to_string(r.id) + ",\"start\":" + std::to_string(r.startTime) +
           ",\"client\":\"" + MaskedAddress(r.client) + "\"}";
  }
  return out + "]}";
}

}  // namespace orvexa
