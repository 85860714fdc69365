// Typed access to the configuration tree, used everywhere in the server.
// Getters never create entries and never convert kinds: a missing entry or one of
// another kind yields the caller's default. Setters create entries; an existing entry of
// another kind is replaced by one of the requested kind, so the saved file always holds
// what the setter stored. Containers are Struct or Configuration nodes (null allowed).
// Main thread only, like the tree itself.
#pragma once

#include <cstdint>

#include "plugin_api/config_value.h"

namespace orvexa {

StructValue* AsStruct(ConfigValue* node);  // Struct or Configuration, else null
ArrayValue* AsArray(ConfigValue* node);

StructValue* GetSection(ConfigValue* root, const char* name);
// Returns null when the name exists with a node that is not a Struct.
StructValue* GetOrCreateSection(ConfigValue* root, const char* name);
ConfigValue* FindTyped(ConfigValue* container, const char* name, ValueKind kind);
int32_t GetInt(ConfigValue* container, const char* name, int32_t fallback);
bool GetBool(ConfigValue* container, const char* name, bool fallback);
const char* GetString(ConfigValue* container, const char* name, const char* fallback);
ConfigValue* FindOrCreate(ConfigValue* container, const char* name, ValueKind kind);
void SetInt(ConfigValue* container, const char* name, int32_t value);
void SetBool(ConfigValue* container, const char* name, bool value);
void SetString(ConfigValue* container, const char* name, const char* text);

}  // namespace orvexa
