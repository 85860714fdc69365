// The configuration file's lexer: splits the NUL-terminated text into the tokens of the
// grammar (punctuation, keywords, names and constants), taking them straight from the
// buffer. Comments are line comments ("//" to the end of the line) wherever white space
// may stand. A constant or name carries a new value node; numbers that do not fit their
// type and a "-" without digits are reported as syntax errors instead of being wrapped
// or guessed.
//
// Used by ConfigParser only, on the thread of one parse.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/parser_output.h"
#include "plugin_api/config_value.h"

namespace orvexa {

enum ConfigToken : int {
  kTokenError = 0,  // lexical error, already reported
  kTokenEof = 1,
  kTokenEquals = 2,
  kTokenComma = 3,
  kTokenConst = 4,
  kTokenStructure = 5,
  kTokenArray = 6,
  kTokenName = 7,
  kTokenOpen = 8,
  kTokenClose = 9,
};

// One token or grammar symbol: where it starts in the text and its value (null for
// punctuation). The holder of a symbol holds one reference on the value.
struct ConfigSymbol {
  size_t offset = 0;
  ConfigValue* value = nullptr;
};

class ConfigLexer {
 public:
  ConfigLexer(const char* text, ParserOutput& output) : text_(text), output_(output) {}

  // Reads the next token into `symbol` (its value carries one reference for the caller).
  // After the end of the text every call returns kTokenEof again.
  int Next(ConfigSymbol& symbol);

 private:
  void SkipBlanksAndComments();
  int Number(ConfigSymbol& symbol);
  int QuotedString(ConfigSymbol& symbol);
  int UnknownSymbol(size_t offset);
  // Gives `node` to `symbol` with one reference; false (error) when allocation failed.
  bool Attach(ConfigSymbol& symbol, ConfigValue* node);

  const char* text_;
  size_t cursor_ = 0;
  ParserOutput& output_;
};

}  // namespace orvexa
