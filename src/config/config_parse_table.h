// The LR parse table of the configuration grammar: 39 states by 62 symbol columns
// (terminal tokens 0..9, nonterminals 41..47). A cell is a shift or go-to (next state,
// 0 = none; state 0 is never a target), or a reduction by one of the fourteen rules.
// Empty cells are syntax errors.
//
// Built once, read-only afterwards; safe from any thread.
#pragma once

#include <cstdint>

namespace orvexa {

enum ConfigNonterminal : int {
  kSymbolS = 41,
  kSymbolC = 42,
  kSymbolF = 43,
  kSymbolP = 44,
  kSymbolR = 45,
  kSymbolD = 46,
  kSymbolA = 47,
};

enum class ConfigRule : uint8_t {
  kNone = 0,
  kAccept = 1,    // S -> C EOF
  kFirstSection,  // C -> F
  kMoreSections,  // C -> F C
  kSection,       // F -> NAME { P }
  kFirstEntry,    // P -> R
  kMoreEntries,   // P -> R P
  kEntry,         // R -> NAME = D
  kConstant,      // D -> CONST
  kArray,         // D -> ARRAY { A }
  kStruct,        // D -> STRUCTURE { P }
  kLastElement,   // A -> D
  kMoreElements,  // A -> D , A
  kEmptyArray,    // D -> ARRAY { }
  kEmptyStruct,   // D -> STRUCTURE { }
};

struct ConfigParseCell {
  uint16_t next = 0;     // shift / go-to target
  uint8_t leftSide = 0;  // reduce: nonterminal code
  uint8_t length = 0;    // reduce: symbols on the right side
  ConfigRule rule = ConfigRule::kNone;
};

constexpr int kConfigParseStates = 39;
constexpr int kConfigParseColumns = 62;

// The cell for (state, symbol); an empty cell for anything out of range.
const ConfigParseCell& ConfigParseAction(int state, int symbol);
// The rule's trace line, e.g. "Redukce C->F \t\n".
const char* ConfigRuleTrace(ConfigRule rule);

}  // namespace orvexa
