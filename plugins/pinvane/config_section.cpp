#include "config_section.h"

namespace orvexa::pinvane {

ConfigSection::ConfigSection(ConfigValue* node) {
  if (node == nullptr) return;
  ValueKind kind = node->Kind();
  if (kind == ValueKind::Struct || kind == ValueKind::Configuration) {
    section_ = static_cast<StructValue*>(node);
  }
}

bool ConfigSection::ReadInteger(const char* name, int32_t* value) const {
  if (section_ == nullptr) return false;
  ConfigValue* entry = section_->Find(name);
  if (entry == nullptr || entry->Kind() != ValueKind::Integer) return false;
  *value = static_cast<IntegerValue*>(entry)->Get();
  return true;
}

bool ConfigSection::ReadString(const char* name, std::string* value) const {
  if (section_ == nullptr) return false;
  ConfigValue* entry = section_->Find(name);
  if (entry == nullptr || entry->Kind() != ValueKind::String) return false;
  const char* text = static_cast<StringValue*>(entry)->Get();
  *value = text != nullptr ? text : "";
  return true;
}

ConfigValue* ConfigSection::FindOrCreate(const char* name, ValueKind kind) const {
  if (section_ == nullptr) return nullptr;
  ConfigValue* entry = section_->Find(name);
  if (entry == nullptr) {
    ConfigValue* created = section_->CreateValue(kind);
    if (created == nullptr) return nullptr;
    section_->Add(name, created);
    // Look it up again rather than trust `created`: the section holds the reference.
    entry = section_->Find(name);
    if (entry == nullptr) return nullptr;
  }
  return entry->Kind() == kind ? entry : nullptr;
}

void ConfigSection::StoreInteger(const char* name, int32_t value) const {
  if (ConfigValue* entry = FindOrCreate(name, ValueKind::Integer)) {
    static_cast<IntegerValue*>(entry)->Set(value);
  }
}

void ConfigSection::StoreString(const char* name, const std::string& value) const {
  if (ConfigValue* entry = FindOrCreate(name, ValueKind::String)) {
    static_cast<StringValue*>(entry)->Set(value.c_str());
  }
}

}  // namespace orvexa::pinvane
