#include "app/server_settings.h"

#include <algorithm>

#include "config/config_access.h"
#include "config/kept_spellings.h"
#include "sessions/audit_log.h"

namespace orvexa {

ServerSettings ServerSettings::ForMissingFile() {
  ServerSettings settings;
  settings.LimitUsage = true;
  settings.LimitMultipleControl = true;
  return settings;
}

void ServerSettings::LoadFrom(ConfigValue* section) {
  const ServerSettings missing = ForMissingKeys();
  // The order of the reads follows the start-up description; only the values matter.
  Enable = GetBool(section, "Enable", missing.Enable);
  ConnectionExpirationDelay =
      GetInt(section, kConnectionExpirationDelayKey, missing.ConnectionExpirationDelay);
  LimitUsage = GetBool(section, "LimitUsage", missing.LimitUsage);
  MaxUsageTime = GetInt(section, "MaxUsageTime", missing.MaxUsageTime);
  LimitMultipleControl = GetBool(section, "LimitMultipleControl", missing.LimitMultipleControl);
  DisableDeviceListing = GetBool(section, "DisableDeviceListing", missing.DisableDeviceListing);
  MaxClientCount = GetInt(section, "MaxClientCount", missing.MaxClientCount);
  Authenticate = GetBool(section, "Authenticate", missing.Authenticate);
  // The default is the current text; copy it first so the assignment never reads
  // from the string it overwrites.
  auto readText = [section](const char* key, std::string& field) {
    const std::string current = field;
    field = GetString(section, key, current.c_str());
  };
  readText("ControlInterface", ControlInterface);
  ControlPort = GetInt(section, "ControlPort", ControlPort);
  if (ControlPort < 0) ControlPort = 0;
  readText("ReservationsServer", ReservationsServer);
  readText("ReservationsQueryPage", ReservationsQueryPage);
  AuditLogMaxSize = std::max(GetInt(section, "AuditLogMaxSize", missing.AuditLogMaxSize), 0);
  AuditLogFiles = std::clamp(GetInt(section, "AuditLogFiles", missing.AuditLogFiles), 1,
                             AuditLog::kMaxKeptFiles);
  MaxLogCopies = std::max(GetInt(section, "MaxLogCopies", missing.MaxLogCopies), 0);
  OpeningTimeout = std::max(GetInt(section, "OpeningTimeout", missing.OpeningTimeout), 1);
  MaxOpeningPerAddress =
      std::max(GetInt(section, "MaxOpeningPerAddress", missing.MaxOpeningPerAddress), 1);
  readText("AuthKeyFile", AuthKeyFile);
  readText("LabId", LabId);
  AuthLeeway = std::max(GetInt(section, "AuthLeeway", missing.AuthLeeway), 0);
  AllowAnonymousObservers =
      GetBool(section, "AllowAnonymousObservers", missing.AllowAnonymousObservers);
  readText("ListenAddress", ListenAddress);
  readText("BrokerUrl", BrokerUrl);
  readText("BrokerUser", BrokerUser);
  readText("BrokerPasswordFile", BrokerPasswordFile);
  PublishValueRate = std::max(GetInt(section, "PublishValueRate", missing.PublishValueRate), 0);
}

void ServerSettings::StoreInto(ConfigValue* section) const {
  SetBool(section, "Enable", Enable);
  SetBool(section, "Authenticate", Authenticate);
  SetInt(section, kConnectionExpirationDelayKey, ConnectionExpirationDelay);
  SetBool(section, "LimitUsage", LimitUsage);
  SetInt(section, "MaxUsageTime", MaxUsageTime);
  SetBool(section, "LimitMultipleControl", LimitMultipleControl);
  SetBool(section, "DisableDeviceListing", DisableDeviceListing);
  SetInt(section, "MaxClientCount", MaxClientCount);
  SetString(section, "ControlInterface", ControlInterface.c_str());
  SetInt(section, "ControlPort", ControlPort);
  SetString(section, "ReservationsServer", ReservationsServer.c_str());
  SetString(section, "ReservationsQueryPage", ReservationsQueryPage.c_str());
  SetInt(section, "AuditLogMaxSize", AuditLogMaxSize);
  SetInt(section, "AuditLogFiles", AuditLogFiles);
  SetInt(section, "MaxLogCopies", MaxLogCopies);
  SetInt(section, "OpeningTimeout", OpeningTimeout);
  SetInt(section, "MaxOpeningPerAddress", MaxOpeningPerAddress);
  SetString(section, "AuthKeyFile", AuthKeyFile.c_str());
  SetString(section, "LabId", LabId.c_str());
  SetInt(section, "AuthLeeway", AuthLeeway);
  SetBool(section, "AllowAnonymousObservers", AllowAnonymousObservers);
  SetString(section, "ListenAddress", ListenAddress.c_str());
  SetString(section, "BrokerUrl", BrokerUrl.c_str());
  SetString(section, "BrokerUser", BrokerUser.c_str());
  SetString(section, "BrokerPasswordFile", BrokerPasswordFile.c_str());
  SetInt(section, "PublishValueRate", PublishValueRate);
}

}  // namespace orvexa
