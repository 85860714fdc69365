// An experiment or burst as the archiver takes it from a lab server: what the server's
// every-owner list says of it, and per channel the samples it recorded. Filled by
// LabConnection, named and stored by LabFollower and ArchiveStore on one lab's thread;
// plain data, no locks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvexa::archive {

// One experiment (or burst) the server holds, as its every-owner list tells it.
struct LabExperiment {
  uint32_t id = 0;
  bool recording = false;
  uint32_t startTime = 0;
  uint32_t stopTime = 0;
  std::array<uint8_t, 4> clientAddress{};
  uint32_t ownerKey = 0;
  bool burst = false;
};

// The samples of one experiment channel (a registry channel, or a burst slot from
// 1001 on): `stored` is what the server holds for it, kNotRecorded when the experiment
// did not record it; the samples come oldest first.
struct ExperimentSample {
  uint32_t sequence = 0;
  uint32_t time = 0;  // since the experiment's start, in the recorder's ticks
  float value = 0;
};
struct ExperimentChannelSamples {
  static constexpr uint32_t kNotRecorded = 0xFFFFFFFF;
  uint16_t number = 0;
  uint32_t stored = kNotRecorded;
  std::string channelId;  // the archive's name for it, set by the archiver
  std::vector<ExperimentSample> samples;
};

}  // namespace orvexa::archive
