// One instance of the simulated device, created by LDPInit and released by LDPDone.
//
// Channels (numbers as LDPQueryInfo gives them):
//   1 "Sine"     read-only: amplitude 1, period sine_period seconds, from the start time
//   2 "Ramp"     read-only: 0 to 100 over ramp_period seconds, then again from 0
//   3 "Setpoint" read-write: reads back the last value written (0 at start)
//   4 "Output"   read-only: follows Setpoint with a first-order lag of lag_time_ms,
//                advanced one step of 1/tick_frequency seconds by every MessageTick
// Burst "sweep": one sample per millisecond of the requested duration (at most 10000);
// column k holds sin(2 pi (k + 1) i / n), the recording takes `duration` ms.
// Experiments: always agreed to; a start parameter N > 0 asks the device to end the
// experiment itself after N seconds, which it reports through the host's
// experiment-stopped callback on the next idle-state message.
//
// Threads: the host calls entry points with its ServerLock held, but from different
// threads (start-up, client workers, the sampling thread, the one-second tick), so the
// instance guards its state with its own mutex, held only inside one call.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "plugin_api/ldp_plugin.h"

namespace simulator {

struct Settings {
  int32_t sinePeriod = 10;      // seconds
  int32_t rampPeriod = 60;      // seconds
  int32_t lagTimeMs = 500;      // time constant of Output
  int32_t tickFrequency = 100;  // Hz of MessageTick
};

class SimulatorDevice {
 public:
  static constexpr int kChannelCount = 4;
  static constexpr uint32_t kMaxBurstDuration = 10000;

  explicit SimulatorDevice(orvexa::ConfigValue* section);

  // Stores the current settings into the host's section.
  void StoreSettings(orvexa::ConfigValue* section);
  uint32_t TickFrequency();

  float Read(int channel);
  void Write(int channel, float value);
  void Tick();
  // Called with the host's idle-state message: reports experiments whose own time is up.
  void ReportExpiredExperiments(orvexa::ExperimentStoppedCallback callback);

  bool StartExperiment(uint32_t id, uint32_t seconds);
  bool StopExperiment(uint32_t id);

  // The sweep's samples for `duration` ms; empty for 0.
  std::vector<orvexa::BurstSample> Sweep(uint32_t duration);

 private:
  double Seconds() const;

  std::mutex mutex_;
  Settings settings_;
  std::chrono::steady_clock::time_point start_;
  float setpoint_ = 0.0f;
  double output_ = 0.0;
  // Running experiments and, for those that end themselves, when (steady clock).
  std::map<uint32_t, std::chrono::steady_clock::time_point> deadlines_;
};

}  // namespace simulator
