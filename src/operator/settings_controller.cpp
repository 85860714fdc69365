#include "operator/settings_controller.h"

namespace orvexa {
namespace {

// Digits of `text` between optional blanks and an optional sign; nothing when malformed
// or beyond 32-bit signed.
std::optional<int32_t> ParseNumber(const std::string& text, bool allowSign) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::nullopt;
  size_t end = text.find_last_not_of(" \t") + 1;
  bool negative = false;
  if (allowSign && (text[begin] == '-' || text[begin] == '+')) {
    negative = text[begin] == '-';
    ++begin;
  }
  if (begin == end) return std::nullopt;
  int64_t value = 0;
  for (size_t i = begin; i < end; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace

SettingsController::SettingsController(ServerSettings& settings, UserTableSink sink)
    : settings_(settings), sink_(std::move(sink)) {}

std::optional<int32_t> SettingsController::ParseSigned(const std::string& text) {
  return ParseNumber(text, true);
}

std::optional<int32_t> SettingsController::ParseUnsigned(const std::string& text) {
  return ParseNumber(text, false);
}

SettingsForm SettingsController::Form() const {
  SettingsForm form;
  form.allowConnections = settings_.Enable;
  form.limitWriteCommands = settings_.LimitMultipleControl;
  form.disableDeviceListing = settings_.DisableDeviceListing;
  form.limitUsageTime = settings_.LimitUsage;
  form.useAuthentication = settings_.Authenticate;
  form.expiration = std::to_string(settings_.ConnectionExpirationDelay);
  // Unsigned fields show what an unsigned field can show; a negative value read from
  // the file is shown as 0 rather than as a huge number.
  form.maxUsageTime = std::to_string(settings_.MaxUsageTime < 0 ? 0 : settings_.MaxUsageTime);
  form.maxClientCount = std::to_string(settings_.MaxClientCount < 0 ? 0 : settings_.MaxClientCount);
  return form;
}

SettingsApplyResult SettingsController::Enabling(const ServerSettings& settings) {
  SettingsApplyResult result;
  result.limitUsageEnabled = settings.LimitMultipleControl;
  result.maxUsageEnabled = settings.LimitUsage && settings.LimitMultipleControl;
  return result;
}

SettingsApplyResult SettingsController::Apply(const SettingsForm& form, SettingsControl changed) {
  std::optional<int32_t> expiration = ParseSigned(form.expiration);
  std::optional<int32_t> maxUsage = ParseUnsigned(form.maxUsageTime);
  std::optional<int32_t> maxClients = ParseUnsigned(form.maxClientCount);
  SettingsApplyResult result;
  UserLimits limits;
  settings_.Enable = form.allowConnections;
  settings_.LimitMultipleControl = form.limitWriteCommands;
  settings_.DisableDeviceListing = form.disableDeviceListing;
  settings_.LimitUsage = form.limitUsageTime;
  settings_.Authenticate = form.useAuthentication;
  if (expiration) settings_.ConnectionExpirationDelay = *expiration;
  if (maxUsage) settings_.MaxUsageTime = *maxUsage;
  if (maxClients) settings_.MaxClientCount = *maxClients;
  result = Enabling(settings_);
  limits.limitUsage = settings_.LimitUsage;
  limits.expirationDelay = settings_.ConnectionExpirationDelay;
  limits.maxUsageTime = settings_.MaxUsageTime;
  limits.limitMultipleControl = settings_.LimitMultipleControl;
  result.expirationValid = expiration.has_value();
  result.maxUsageValid = maxUsage.has_value();
  result.maxClientValid = maxClients.has_value();
  // The sink copies what other threads read (the user table takes its own lock).
  if (sink_) sink_(limits, changed == SettingsControl::LimitWriteCommands);
  return result;
}

}  // namespace orvexa
