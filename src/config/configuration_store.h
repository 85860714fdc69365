// The live configuration of the running server: the root of the tree, the borrowed
// OrvexaConfig section, the start directory where orvexa.cfg is read and saved, and the
// /config flag (start from defaults, hand plug-ins no stored section).
//
// Owned by the application for the whole run. Touched on the main thread; Save only reads
// the tree, so the logging-settings save writes the file after releasing ServerLock (the
// fsync waits for the disk); the shutdown save holds it.
#pragma once

#include <string>

#include "platform/io_result.h"
#include "plugin_api/config_value.h"

namespace orvexa {

class ConfigurationStore {
 public:
  ConfigurationStore() = default;
  ~ConfigurationStore();
  ConfigurationStore(const ConfigurationStore&) = delete;
  ConfigurationStore& operator=(const ConfigurationStore&) = delete;

  // Takes over one reference of `root` (a Configuration node, or null).
  void Adopt(ConfigValue* root);
  // A fresh empty Configuration with an OrvexaConfig section.
  void StartEmpty();
  // Releases the tree (shutdown, after the final save).
  void ReleaseRoot();

  ConfigValue* Root() const { return root_; }
  // Null when the file had no OrvexaConfig struct; then nothing is ever saved.
  StructValue* OrvexaConfig() const { return orvexaConfig_; }

  bool DefaultConfiguration() const { return defaultConfiguration_; }
  void SetDefaultConfiguration(bool value) { defaultConfiguration_ = value; }

  const std::string& StartDirectory() const { return startDirectory_; }
  void SetStartDirectory(std::string directory) { startDirectory_ = std::move(directory); }
  std::string FilePath() const;  // <start directory>/orvexa.cfg

  // Writes the whole tree to orvexa.cfg in the start directory, through a temporary file
  // renamed over the old one, so a crash or a full disk never leaves a truncated file.
  // Skipped (a failure) without OrvexaConfig. A failure leaves the old file untouched.
  IoResult Save() const;

 private:
  ConfigValue* root_ = nullptr;
  StructValue* orvexaConfig_ = nullptr;
  bool defaultConfiguration_ = false;
  std::string startDirectory_ = ".";
};

}  // namespace orvexa
