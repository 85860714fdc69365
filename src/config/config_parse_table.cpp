#include "config/config_parse_table.h"

#include <array>

#include "config/config_lexer.h"

namespace orvexa {
namespace {

struct RuleInfo {
  uint8_t leftSide;
  uint8_t length;
  const char* trace;
};

// Rules R1..R14 in table order.
constexpr RuleInfo kRules[] = {
    {0, 0, ""},
    {kSymbolS, 2, "Redukce S->C EOF \t\n"},
    {kSymbolC, 1, "Redukce C->F \t\n"},
    {kSymbolC, 2, "Redukce C->F C \t\n"},
    {kSymbolF, 4, "Redukce F->NAME { P } \t\n"},
    {kSymbolP, 1, "Redukce P->R \t\n"},
    {kSymbolP, 2, "Redukce P->R P \t\n"},
    {kSymbolR, 3, "Redukce R->NAME = D \t\n"},
    {kSymbolD, 1, "Redukce D->CONST \t\n"},
    {kSymbolD, 4, "Redukce D->ARRAY { A } \t\n"},
    {kSymbolD, 4, "Redukce D->STRUCTURE { P } \t\n"},
    {kSymbolA, 1, "Redukce A->D \t\n"},
    {kSymbolA, 3, "Redukce A->D , A \t\n"},
    {kSymbolD, 3, "Redukce D->ARRAY { } \t\n"},
    {kSymbolD, 3, "Redukce D->PLUGIN { } \t\n"},
};

struct Shift {
  int state, symbol, next;
};
struct Reduce {
  int state, token, rule;
};

// Shift on a token and go-to on a nonterminal, per state.
constexpr Shift kShifts[] = {
    {0, kTokenName, 1},        {0, kSymbolC, 35},         {0, kSymbolF, 37},
    {1, kTokenOpen, 2},        {2, kTokenName, 3},        {2, kSymbolP, 33},
    {2, kSymbolR, 11},         {3, kTokenEquals, 4},      {4, kTokenConst, 5},
    {4, kTokenStructure, 6},   {4, kTokenArray, 13},      {4, kSymbolD, 32},
    {6, kTokenOpen, 7},        {7, kTokenName, 3},        {7, kTokenClose, 8},
    {7, kSymbolP, 9},          {7, kSymbolR, 11},         {9, kTokenClose, 10},
    {11, kTokenName, 3},       {11, kSymbolP, 12},        {11, kSymbolR, 11},
    {13, kTokenOpen, 14},      {14, kTokenConst, 15},     {14, kTokenStructure, 16},
    {14, kTokenArray, 21},     {14, kTokenClose, 29},     {14, kSymbolD, 24},
    {14, kSymbolA, 30},        {16, kTokenOpen, 17},      {17, kTokenName, 3},
    {17, kTokenClose, 18},     {17, kSymbolP, 19},        {17, kSymbolR, 11},
    {19, kTokenClose, 20},     {21, kTokenOpen, 22},      {22, kTokenConst, 15},
    {22, kTokenStructure, 16}, {22, kTokenArray, 21},     {22, kTokenClose, 23},
    {22, kSymbolD, 24},        {22, kSymbolA, 27},        {24, kTokenComma, 25},
    {25, kTokenConst, 15},     {25, kTokenStructure, 16}, {25, kTokenArray, 21},
    {25, kSymbolD, 24},        {25, kSymbolA, 26},        {27, kTokenClose, 28},
    {30, kTokenClose, 31},     {33, kTokenClose, 34},     {35, kTokenEof, 36},
    {37, kTokenName, 1},       {37, kSymbolC, 38},        {37, kSymbolF, 37},
};

// Reductions exist only for the listed lookahead tokens.
constexpr Reduce kReduces[] = {
    {5, kTokenName, 8},    {5, kTokenClose, 8},   {8, kTokenName, 14},   {8, kTokenClose, 14},
    {10, kTokenName, 10},  {10, kTokenClose, 10}, {11, kTokenClose, 5},  {12, kTokenClose, 6},
    {15, kTokenComma, 8},  {15, kTokenClose, 8},  {18, kTokenComma, 14}, {18, kTokenClose, 14},
    {20, kTokenComma, 10}, {20, kTokenClose, 10}, {23, kTokenComma, 13}, {23, kTokenClose, 13},
    {24, kTokenClose, 11}, {26, kTokenClose, 12}, {28, kTokenComma, 9},  {28, kTokenClose, 9},
    {29, kTokenName, 13},  {29, kTokenClose, 13}, {31, kTokenName, 9},   {31, kTokenClose, 9},
    {32, kTokenName, 7},   {32, kTokenClose, 7},  {34, kTokenEof, 4},    {34, kTokenName, 4},
    {36, kTokenEof, 1},    {37, kTokenEof, 2},    {38, kTokenEof, 3},
};

using Table = std::array<std::array<ConfigParseCell, kConfigParseColumns>, kConfigParseStates>;

Table BuildTable() {
  Table table{};
  for (const Shift& s : kShifts) table[s.state][s.symbol].next = static_cast<uint16_t>(s.next);
  for (const Reduce& r : kReduces) {
    ConfigParseCell& cell = table[r.state][r.token];
    cell.rule = static_cast<ConfigRule>(r.rule);
    cell.leftSide = kRules[r.rule].leftSide;
    cell.length = kRules[r.rule].length;
  }
  return table;
}

}  // namespace

const ConfigParseCell& ConfigParseAction(int state, int symbol) {
  static const Table table = BuildTable();
  static const ConfigParseCell empty{};
  if (state < 0 || state >= kConfigParseStates || symbol < 0 || symbol >= kConfigParseColumns)
    return empty;
  return table[state][symbol];
}

const char* ConfigRuleTrace(ConfigRule rule) {
  auto index = static_cast<size_t>(rule);
  return index < std::size(kRules) ? kRules[index].trace : "";
}

}  // namespace orvexa
