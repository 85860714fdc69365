// Plug-in discovery at start-up: every *.ldp file of the working folder is loaded into
// the next slot of the plug-in table, bound, initialized with its stored section of
// OrvexaConfig/PluginConfigs, asked for its settings and tick frequency, and its channels
// are registered. Libraries that do not load are skipped silently; files beyond the 100
// slots are not loaded at all and are named in one line on standard error.
//
// Runs once on the main thread while the server initializes, before it serves clients
// or samples; takes no lock. The configuration tree is touched on the main thread only.
#pragma once

#include <string>

#include "host/device_registry.h"

namespace orvexa {

class StructValue;

// The plug-in's Struct in PluginConfigs (matched by its "Path" string, byte for byte), or
// null. With `create`, a missing PluginConfigs array and a missing element are created
// (the new element holds only "Path").
StructValue* FindPluginSection(StructValue* orvexaConfig, const std::string& fileName, bool create);

// Loads one library by its file name (relative to context.folder) into the next slot and
// registers its channels. False when it could not be loaded (no slot taken) or the table
// is full.
bool LoadPlugin(DeviceRegistry& registry, const std::string& fileName,
                const PluginHostContext& context);

// Empties the channel sequence, then loads every *.ldp file of context.folder in listing
// order. Returns the number of slots used.
int DiscoverPlugins(DeviceRegistry& registry, const PluginHostContext& context);

}  // namespace orvexa
