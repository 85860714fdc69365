// Turns a configuration tree back into the text the parser reads. Entries come out in
// byte-wise name order with the writer's own indentation (3 blanks per level), LF line
// ends. Sections without entries are skipped: the grammar needs at least one entry per
// section, and a saved file must always load at the next start.
// Stateless; called with ServerLock held by ConfigurationStore::Save, and by tools/tests.
#pragma once

#include <string>

#include "plugin_api/config_value.h"

namespace orvexa {

// Appends the text of `node` written at `depth` to `out`.
void WriteConfiguration(std::string& out, ConfigValue* node, int depth);

}  // namespace orvexa
