// ServerSettings: the settings of the OrvexaConfig section that the server keeps while it
// runs (the main window's settings fields, and the disk bounds of the audit log and the
// log copies), with the two sets of defaults: for a key missing from an existing file,
// and for a run without a file (or with /config), which limits usage and multiple
// control.
//
// Main thread only: filled at start-up, changed by the settings window, copied back into
// the tree at shutdown. Other threads never read it: the client service copies what they
// need (the user table's settings, DisableDeviceListing, MaxOpeningPerAddress) whenever
// it changes, so that applying a setting never waits for the device lock.
// The field names are the key names.
#pragma once

#include <cstdint>
#include <string>

#include "plugin_api/config_value.h"

namespace orvexa {

struct ServerSettings {
  bool Enable = true;
  bool Authenticate = false;
  int32_t ConnectionExpirationDelay = 60;
  bool LimitUsage = false;
  int32_t MaxUsageTime = 1200;
  bool LimitMultipleControl = false;
  bool DisableDeviceListing = false;
  int32_t MaxClientCount = 50;
  // Seconds a connection has for its handshake and Hello (at least 1), whatever the idle
  // delay.
  int32_t OpeningTimeout = 10;
  // Connections of one address that may be in their opening at once (at least 1); behind
  // the local proxy the address is the one its X-Real-IP names.
  int32_t MaxOpeningPerAddress = 8;
  std::string ControlInterface = "127.0.0.1";
  int32_t ControlPort = 5555;
  std::string ReservationsServer = "localhost";
  std::string ReservationsQueryPage = "/reservations.php";
  // users.log is moved aside before a line would take it past this many bytes; 0: no
  // limit.
  int32_t AuditLogMaxSize = 64 * 1024 * 1024;
  // Old audit files kept (users.log.1 newest), 1 .. 1000.
  int32_t AuditLogFiles = 8;
  // Newest copies kept per channel log after each copy; 0: all of them.
  int32_t MaxLogCopies = 0;
  // The lab's id: the audience a token must name (empty: not checked) and the lab's
  // topic name on the broker.
  std::string LabId;
  // With Authenticate: the key that checks the clients' tokens (a PEM public key for
  // ES256, or a file holding a shared secret for HS256), the clock skew allowed on a
  // token's times (seconds, at least 0), and whether an observer without a token is
  // admitted.
  std::string AuthKeyFile;
  int32_t AuthLeeway = 30;
  bool AllowAnonymousObservers = false;
  // The IPv4 address the listening socket binds; "0.0.0.0" is every interface. A lab
  // behind a local proxy binds 127.0.0.1. The /listen option overrides it.
  std::string ListenAddress = "0.0.0.0";
  // Live data through an MQTT broker ("mqtt://host[:port]"; empty: none), the account
  // and the file whose first line is its password, and the value frames per second.
  std::string BrokerUrl;
  std::string BrokerUser;
  std::string BrokerPasswordFile;
  int32_t PublishValueRate = 2;

  // Defaults when a key is missing from orvexa.cfg.
  static ServerSettings ForMissingKeys() { return ServerSettings{}; }
  // Defaults without orvexa.cfg (or with /config): a fresh installation limits control
  // and usage.
  static ServerSettings ForMissingFile();

  // Reads the keys from the OrvexaConfig section (null allowed: everything missing). The
  // switches and numbers take the missing-key defaults; the four control-interface and
  // reservation entries keep this object's current values as their defaults. A negative
  // ControlPort, AuditLogMaxSize or MaxLogCopies becomes 0; AuditLogFiles is clamped to
  // 1 .. 1000 (rotation never drops the file it moves aside); OpeningTimeout and
  // MaxOpeningPerAddress below 1 become 1 (0 would refuse every connection); a negative
  // AuthLeeway becomes 0.
  void LoadFrom(ConfigValue* section);
  // Writes all the keys with the setters (booleans as Boolean, numbers as Integer,
  // texts as String).
  void StoreInto(ConfigValue* section) const;
};

}  // namespace orvexa
