// ReadConfiguration: the text of orvexa.cfg to a configuration tree. A hand-written lexer
// feeds a table-driven LR parser whose reductions build the tree bottom-up; each
// reduction prints its trace line. Any lexical or syntax error prints its diagnostic
// (with the offending line and a caret) and gives null, releasing everything built so
// far. The parse is linear in the text's length; its symbol stack holds 10,000 entries,
// and deeper nesting or longer pending lists are a syntax error, never an overrun.
//
// Reentrant (all state is per call); the server calls it once, at start-up, on the main
// thread.
#pragma once

#include <string_view>

#include "config/parser_output.h"
#include "plugin_api/config_value.h"

namespace orvexa {

// Parses the content of a configuration file. The text ends at its first NUL byte; CR LF
// line ends read as LF. Returns the root Configuration holding one reference for the
// caller, or null (an empty text gives null without a message).
ConfigValue* ReadConfiguration(std::string_view fileContent, const ParseOptions& options = {});

}  // namespace orvexa
