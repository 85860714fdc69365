// The plug-in's own entries in its configuration section, reached only through the
// node's virtual operations of the plug-in contract (Find, CreateValue, Add, Kind, Get,
// Set), since the node belongs to the server. Called on the host's main thread inside
// LDPInit and LDPConfig; the section pointer is never kept beyond the call.
#pragma once

#include <cstdint>
#include <string>

#include "plugin_api/config_value.h"

namespace orvexa::pinvane {

class ConfigSection {
 public:
  // Null when `node` is null or not a struct; every operation is then a no-op.
  explicit ConfigSection(ConfigValue* node);

  bool Valid() const { return section_ != nullptr; }
  // The entry's value when it exists with exactly that kind.
  bool ReadInteger(const char* name, int32_t* value) const;
  bool ReadString(const char* name, std::string* value) const;
  // Creates the entry when absent. An entry of another kind is left alone: the plug-in
  // cannot replace it through the contract, and setting it as if it had our kind would
  // corrupt the server's node.
  void StoreInteger(const char* name, int32_t value) const;
  void StoreString(const char* name, const std::string& value) const;

 private:
  // The entry `name` of `kind`, created when absent; null when it has another kind.
  ConfigValue* FindOrCreate(const char* name, ValueKind kind) const;

  StructValue* section_ = nullptr;
};

}  // namespace orvexa::pinvane
