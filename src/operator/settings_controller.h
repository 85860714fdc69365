// SettingsController: the rules of the main window's settings controls ("apply
// settings"), free of any toolkit. The view hands over what its controls show after
// every click on a check box and every change of a number field; the controller reads
// it into the ServerSettings (a number field that does not hold a valid number keeps
// the previous value), says which controls are enabled, and copies the four user-table
// settings into the user table, which also rebuilds its rows after a click on
// "Limit Write commands" (the rows show who is in control).
//
// Main thread only. The settings belong to the main thread, so they are written without
// a lock (never waiting for a burst that holds the device lock); the sink copies what
// other threads read (the client service's copies and the user table, which takes its
// own lock).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/server_settings.h"

namespace orvexa {

// What the settings controls show.
struct SettingsForm {
  bool allowConnections = true;       // "Allow conections": Enable
  bool limitWriteCommands = false;    // "Limit Write commands": LimitMultipleControl
  bool disableDeviceListing = false;  // "Disable device listing": DisableDeviceListing
  bool limitUsageTime = false;        // "Limit usage time": LimitUsage
  bool useAuthentication = false;     // "Use authentication" (hidden): Authenticate
  std::string expiration;             // "Conection expiration [s]": signed seconds
  std::string maxUsageTime;           // "Max usage time [s]:": unsigned seconds
  std::string maxClientCount;         // "Maximum client count:": unsigned
};

// The control whose change started the apply.
enum class SettingsControl {
  Initial,  // the window has just been filled
  AllowConnections,
  LimitWriteCommands,
  DisableDeviceListing,
  LimitUsageTime,
  UseAuthentication,
  Expiration,
  MaxUsageTime,
  MaxClientCount,
};

// Which controls are enabled, and which number fields were refused.
struct SettingsApplyResult {
  bool limitUsageEnabled = false;  // "Limit usage time": only with LimitMultipleControl
  bool maxUsageEnabled = false;    // "Max usage time": LimitUsage and LimitMultipleControl
  bool expirationValid = true;
  bool maxUsageValid = true;
  bool maxClientValid = true;
};

// The settings the user table keeps a copy of.
struct UserLimits {
  bool limitUsage = false;
  int32_t expirationDelay = 60;
  int32_t maxUsageTime = 1200;
  bool limitMultipleControl = false;
};

class SettingsController {
 public:
  // Copies the limits into the user table; refreshRows asks it to rebuild its rows.
  using UserTableSink = std::function<void(const UserLimits& limits, bool refreshRows)>;

  SettingsController(ServerSettings& settings, UserTableSink sink);

  // The controls' contents for the current settings.
  SettingsForm Form() const;
  // Reads `form` into the settings and applies them (see the file comment).
  SettingsApplyResult Apply(const SettingsForm& form, SettingsControl changed);
  // The enabling rules alone.
  static SettingsApplyResult Enabling(const ServerSettings& settings);

  // Number fields. A signed field takes an optional sign; an unsigned one digits only.
  // Blanks around the number are allowed; an empty field, other characters or a value
  // that does not fit the setting's 32-bit signed range give nothing.
  static std::optional<int32_t> ParseSigned(const std::string& text);
  static std::optional<int32_t> ParseUnsigned(const std::string& text);

 private:
  ServerSettings& settings_;
  UserTableSink sink_;
};

}  // namespace orvexa
