#include "config/config_access.h"

namespace orvexa {

StructValue* AsStruct(ConfigValue* node) {
  if (node == nullptr) return nullptr;
  ValueKind kind = node->Kind();
  if (kind != ValueKind::Struct && kind != ValueKind::Configuration) return nullptr;
  return static_cast<StructValue*>(node);
}

ArrayValue* AsArray(ConfigValue* node) {
  if (node == nullptr || node->Kind() != ValueKind::Array) return nullptr;
  return static_cast<ArrayValue*>(node);
}

StructValue* GetSection(ConfigValue* root, const char* name) {
  if (root == nullptr || root->Kind() != ValueKind::Configuration) return nullptr;
  ConfigValue* node = static_cast<StructValue*>(root)->Find(name);
  if (node == nullptr || node->Kind() != ValueKind::Struct) return nullptr;
  return static_cast<StructValue*>(node);
}

StructValue* GetOrCreateSection(ConfigValue* root, const char* name) {
  if (StructValue* section = GetSection(root, name)) return section;
  StructValue* container = AsStruct(root);
  if (container == nullptr) return nullptr;
  // Inside a struct (not a root) an existing struct entry is the section asked for.
  if (ConfigValue* existing = container->Find(name))
    return existing->Kind() == ValueKind::Struct ? static_cast<StructValue*>(existing) : nullptr;
  ConfigValue* node = root->CreateValue(ValueKind::Struct);
  if (node == nullptr) return nullptr;
  container->Add(name, node);
  return static_cast<StructValue*>(node);
}

ConfigValue* FindTyped(ConfigValue* container, const char* name, ValueKind kind) {
  StructValue* map = AsStruct(container);
  if (map == nullptr) return nullptr;
  ConfigValue* node = map->Find(name);
  return node != nullptr && node->Kind() == kind ? node : nullptr;
}

int32_t GetInt(ConfigValue* container, const char* name, int32_t fallback) {
  ConfigValue* node = FindTyped(container, name, ValueKind::Integer);
  return node != nullptr ? static_cast<IntegerValue*>(node)->Get() : fallback;
}

bool GetBool(ConfigValue* container, const char* name, bool fallback) {
  ConfigValue* node = FindTyped(container, name, ValueKind::Boolean);
  return node != nullptr ? static_cast<BooleanValue*>(node)->Get() : fallback;
}

const char* GetString(ConfigValue* container, const char* name, const char* fallback) {
  ConfigValue* node = FindTyped(container, name, ValueKind::String);
  return node != nullptr ? static_cast<StringValue*>(node)->Get() : fallback;
}

ConfigValue* FindOrCreate(ConfigValue* container, const char* name, ValueKind kind) {
  StructValue* map = AsStruct(container);
  if (map == nullptr) return nullptr;
  if (ConfigValue* node = map->Find(name)) return node;
  ConfigValue* node = container->CreateValue(kind);
  if (node == nullptr) return nullptr;
  map->Add(name, node);
  return node;
}

namespace {

// FindOrCreate, but an entry of another kind is replaced by a fresh one of `kind`.
ConfigValue* FindOrReplace(ConfigValue* container, const char* name, ValueKind kind) {
  StructValue* map = AsStruct(container);
  if (map == nullptr) return nullptr;
  ConfigValue* node = map->Find(name);
  if (node != nullptr && node->Kind() != kind) map->Remove(name);
  return FindOrCreate(container, name, kind);
}

}  // namespace

void SetInt(ConfigValue* container, const char* name, int32_t value) {
  if (ConfigValue* node = FindOrReplace(container, name, ValueKind::Integer))
    static_cast<IntegerValue*>(node)->Set(value);
}

void SetBool(ConfigValue* container, const char* name, bool value) {
  if (ConfigValue* node = FindOrReplace(container, name, ValueKind::Boolean))
    static_cast<BooleanValue*>(node)->Set(value);
}

void SetString(ConfigValue* container, const char* name, const char* text) {
  if (ConfigValue* node = FindOrReplace(container, name, ValueKind::String))
    static_cast<StringValue*>(node)->Set(text);
}

}  // namespace orvexa
