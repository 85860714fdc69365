#include "config/configuration_store.h"

#include "config/config_access.h"
#include "config/config_writer.h"
#include "config/node_base.h"
#include "platform/file_system.h"
#include "platform/operator_report.h"

namespace orvexa {

ConfigurationStore::~ConfigurationStore() {
  ReleaseRoot();
}

void ConfigurationStore::Adopt(ConfigValue* root) {
  ReleaseRoot();
  root_ = root;
  orvexaConfig_ = GetSection(root_, "OrvexaConfig");
}

void ConfigurationStore::StartEmpty() {
  ReleaseRoot();
  root_ = NewConfigValue(ValueKind::Configuration);
  if (root_ == nullptr) return;
  root_->AddRef();
  orvexaConfig_ = GetOrCreateSection(root_, "OrvexaConfig");
}

void ConfigurationStore::ReleaseRoot() {
  orvexaConfig_ = nullptr;
  if (root_ != nullptr) {
    root_->Release();
    root_ = nullptr;
  }
}

std::string ConfigurationStore::FilePath() const {
  return startDirectory_ + "/orvexa.cfg";
}

IoResult ConfigurationStore::Save() const {
  if (orvexaConfig_ == nullptr || root_ == nullptr)
    return IoResult::Failure("no OrvexaConfig section");
  // A file the operator made read-only stays as it is, as it would if it were rewritten
  // in place.
  if (!MayReplaceFile(FilePath())) return IoResult::Failure(FilePath() + ": not writable");
  std::string text;
  WriteConfiguration(text, root_, 0);
  bool noTemporary = false;
  IoResult result = WriteFileAtomically(FilePath(), text, &noTemporary);
  if (!result.ok && noTemporary && FileExists(FilePath())) {
    // The start directory takes no new file, but orvexa.cfg itself may be writable:
    // settings are worth more than the atomic replacement.
    IoResult inPlace = RewriteFileInPlace(FilePath(), text);
    if (inPlace.ok)
      ReportToOperator("Warning: %s; orvexa.cfg rewritten in place", result.message.c_str());
    result = inPlace;
  }
  return result;
}

}  // namespace orvexa
