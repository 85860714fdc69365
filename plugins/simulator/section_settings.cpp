#include "section_settings.h"

namespace simulator {

using orvexa::ConfigValue;
using orvexa::IntegerValue;
using orvexa::StructValue;
using orvexa::ValueKind;

namespace {

StructValue* AsSection(ConfigValue* node) {
  if (node == nullptr) return nullptr;
  ValueKind kind = node->Kind();
  if (kind != ValueKind::Struct && kind != ValueKind::Configuration) return nullptr;
  return static_cast<StructValue*>(node);
}

}  // namespace

int32_t ReadInteger(ConfigValue* section, const char* name, int32_t fallback) {
  StructValue* map = AsSection(section);
  if (map == nullptr) return fallback;
  ConfigValue* entry = map->Find(name);
  if (entry == nullptr || entry->Kind() != ValueKind::Integer) return fallback;
  return static_cast<IntegerValue*>(entry)->Get();
}

void StoreInteger(ConfigValue* section, const char* name, int32_t value) {
  StructValue* map = AsSection(section);
  if (map == nullptr) return;
  ConfigValue* entry = map->Find(name);
  if (entry == nullptr) {
    entry = section->CreateValue(ValueKind::Integer);
    if (entry == nullptr) return;
    map->Add(name, entry);
    entry = map->Find(name);
  }
  if (entry != nullptr && entry->Kind() == ValueKind::Integer) {
    static_cast<IntegerValue*>(entry)->Set(value);
  }
}

}  // namespace simulator
