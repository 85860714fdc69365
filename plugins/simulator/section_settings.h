// Reading and storing the simulator's settings in the section the host lends it, using
// only the configuration node's virtual operations (Find, CreateValue, Add, Kind, Get,
// Set), as the plug-in contract requires. The section pointer is used only during the
// call that passed it. Called from LDPInit and LDPConfig.
#pragma once

#include <cstdint>

#include "plugin_api/config_value.h"

namespace simulator {

// The Integer entry `name` of `section`, or `fallback` when the section is null or the
// entry is missing or of another kind.
int32_t ReadInteger(orvexa::ConfigValue* section, const char* name, int32_t fallback);
// Sets the Integer entry `name`, creating it when missing. An entry of another kind is
// left alone (it belongs to whoever wrote it).
void StoreInteger(orvexa::ConfigValue* section, const char* name, int32_t value);

}  // namespace simulator
