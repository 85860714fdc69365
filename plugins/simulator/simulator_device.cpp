#include "simulator_device.h"

#include <cmath>
#include <thread>

#include "section_settings.h"

namespace simulator {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Settings outside sensible bounds fall back to the defaults rather than dividing by 0.
int32_t Positive(int32_t value, int32_t fallback) {
  return value > 0 ? value : fallback;
}

}  // namespace

SimulatorDevice::SimulatorDevice(orvexa::ConfigValue* section)
    : start_(std::chrono::steady_clock::now()) {
  Settings defaults;
  settings_.sinePeriod =
      Positive(ReadInteger(section, "sine_period", defaults.sinePeriod), defaults.sinePeriod);
  settings_.rampPeriod =
      Positive(ReadInteger(section, "ramp_period", defaults.rampPeriod), defaults.rampPeriod);
  int32_t lag = ReadInteger(section, "lag_time_ms", defaults.lagTimeMs);
  settings_.lagTimeMs = lag >= 0 ? lag : defaults.lagTimeMs;
  int32_t frequency = ReadInteger(section, "tick_frequency", defaults.tickFrequency);
  settings_.tickFrequency = frequency >= 0 ? frequency : defaults.tickFrequency;
}

void SimulatorDevice::StoreSettings(orvexa::ConfigValue* section) {
  std::lock_guard<std::mutex> hold(mutex_);
  StoreInteger(section, "sine_period", settings_.sinePeriod);
  StoreInteger(section, "ramp_period", settings_.rampPeriod);
  StoreInteger(section, "lag_time_ms", settings_.lagTimeMs);
  StoreInteger(section, "tick_frequency", settings_.tickFrequency);
}

uint32_t SimulatorDevice::TickFrequency() {
  std::lock_guard<std::mutex> hold(mutex_);
  return static_cast<uint32_t>(settings_.tickFrequency);
}

double SimulatorDevice::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

float SimulatorDevice::Read(int channel) {
  std::lock_guard<std::mutex> hold(mutex_);
  switch (channel) {
    case 1:
      return static_cast<float>(std::sin(2.0 * kPi * Seconds() / settings_.sinePeriod));
    case 2: {
      double phase = std::fmod(Seconds(), static_cast<double>(settings_.rampPeriod));
      return static_cast<float>(100.0 * phase / settings_.rampPeriod);
    }
    case 3:
      return setpoint_;
    case 4:
      return static_cast<float>(output_);
    default:
      return 0.0f;
  }
}

void SimulatorDevice::Write(int channel, float value) {
  std::lock_guard<std::mutex> hold(mutex_);
  // A value that is not a number would stick in the lag for good; keep the last one.
  if (channel == 3 && std::isfinite(value)) setpoint_ = value;
}

void SimulatorDevice::Tick() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (settings_.tickFrequency <= 0) return;
  double step = 1.0 / settings_.tickFrequency;
  double tau = settings_.lagTimeMs / 1000.0;
  // Exact discretization of dy/dt = (setpoint - y) / tau over one step.
  double alpha = tau > 0.0 ? 1.0 - std::exp(-step / tau) : 1.0;
  output_ += (setpoint_ - output_) * alpha;
}

void SimulatorDevice::ReportExpiredExperiments(orvexa::ExperimentStoppedCallback callback) {
  std::vector<uint32_t> expired;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    auto now = std::chrono::steady_clock::now();
    for (auto it = deadlines_.begin(); it != deadlines_.end();) {
      if (it->second != std::chrono::steady_clock::time_point::max() && it->second <= now) {
        expired.push_back(it->first);
        it = deadlines_.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Reported outside the device's own lock: the host's handler may call back in.
  if (callback != nullptr) {
    for (uint32_t id : expired) callback(id);
  }
}

bool SimulatorDevice::StartExperiment(uint32_t id, uint32_t seconds) {
  std::lock_guard<std::mutex> hold(mutex_);
  deadlines_[id] = seconds > 0 ? std::chrono::steady_clock::now() + std::chrono::seconds(seconds)
                               : std::chrono::steady_clock::time_point::max();
  return true;
}

bool SimulatorDevice::StopExperiment(uint32_t id) {
  std::lock_guard<std::mutex> hold(mutex_);
  deadlines_.erase(id);
  return true;
}

std::vector<orvexa::BurstSample> SimulatorDevice::Sweep(uint32_t duration) {
  if (duration > kMaxBurstDuration) duration = kMaxBurstDuration;
  auto begin = std::chrono::steady_clock::now();
  std::vector<orvexa::BurstSample> samples(duration);
  for (uint32_t i = 0; i < duration; ++i) {
    samples[i].time = i;
    for (int k = 0; k < 8; ++k) {
      samples[i].value[k] = static_cast<float>(std::sin(2.0 * kPi * (k + 1) * i / duration));
    }
  }
  // A recording takes as long as it lasts: one sample per millisecond.
  std::this_thread::sleep_until(begin + std::chrono::milliseconds(duration));
  return samples;
}

}  // namespace simulator
