// Turns a configuration tree back into the text the parser reads. Entries come out in
// byte-wise name order with the writer's own indentation (3 blanks per level), LF line
// ends, integers as "%d", reals as "%f" (six decimals), strings between double quotes.
//
// Whatever is written must load again at the next start, so what the format cannot
// hold is left out instead of written: sections without entries (the grammar needs at
// least one), entries whose name is not an identifier the lexer reads back (it must
// start with a letter, hold only letters, digits, "_", "/", "&", and not begin with
// true, false, struct or array), and nodes of the root or parser-only kinds inside a
// section. Strings cannot hold a double quote (the string node's setter replaces it).
//
// Stateless; called with ServerLock held by ConfigurationStore::Save, and by tools/tests.
#pragma once

#include <string>

#include "plugin_api/config_value.h"

namespace orvexa {

// Appends the text of `node` written at `depth` (the root at 0) to `out`.
void WriteConfiguration(std::string& out, ConfigValue* node, int depth);

// True when `name` reads back as one NAME token.
bool IsWritableConfigName(const char* name);
// True for the kinds an entry or array element can hold in the file.
bool IsWritableConfigValue(ConfigValue* node);
// True when a struct has at least one entry the writer writes.
bool HasWritableEntry(StructValue* map);

}  // namespace orvexa
