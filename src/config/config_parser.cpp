#include "config/config_parser.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "config/config_lexer.h"
#include "config/config_parse_table.h"
#include "config/node_base.h"
#include "config/pair_node.h"

namespace orvexa {
namespace {

constexpr int kStackEntries = 10000;

// One parse: the state and symbol stacks (one stack pointer; symbol entry 0 holds the
// lookahead's offset for diagnostics), the lexer and the error flag.
class ConfigParser {
 public:
  ConfigParser(const char* text, ParserOutput& output) : output_(output), lexer_(text, output) {
    // The stacks grow with the nesting, up to kStackEntries.
    states_.resize(64);
    symbols_.resize(64);
  }
  ~ConfigParser() {
    ReleaseStacks();
    ReleaseLookahead();
  }

  ConfigValue* Parse();

 private:
  void ReadToken() {
    ReleaseLookahead();
    token_ = lexer_.Next(lookahead_);
    if (token_ == kTokenError) error_ = true;
    symbols_[0].offset = lookahead_.offset;
  }
  void ReleaseLookahead() {
    if (lookahead_.value != nullptr) lookahead_.value->Release();
    lookahead_.value = nullptr;
  }
  void ReleaseStacks() {
    for (int i = 1; i <= top_; ++i) {
      if (symbols_[i].value != nullptr) symbols_[i].value->Release();
      symbols_[i].value = nullptr;
    }
    top_ = 0;
  }
  // Pushes a symbol (taking a reference) and a state; false when the stack is full.
  bool Push(const ConfigSymbol& symbol, int state) {
    if (top_ + 1 >= kStackEntries) return false;
    ++top_;
    if (static_cast<size_t>(top_) >= states_.size()) {
      size_t grown = std::min<size_t>(states_.size() * 2, kStackEntries);
      states_.resize(grown);
      symbols_.resize(grown);
    }
    symbols_[top_] = symbol;
    if (symbol.value != nullptr) symbol.value->AddRef();
    states_[top_] = state;
    return true;
  }
  ConfigValue* Value(int fromTop) { return symbols_[top_ - fromTop].value; }
  // The rule's action on the top symbols; null (and error_) when it fails.
  ConfigValue* Reduce(ConfigRule rule);

  ParserOutput& output_;
  ConfigLexer lexer_;
  std::vector<int> states_;
  std::vector<ConfigSymbol> symbols_;
  int top_ = 0;
  ConfigSymbol lookahead_;
  int token_ = kTokenError;
  bool error_ = false;
};

ConfigValue* ConfigParser::Reduce(ConfigRule rule) {
  auto pairName = [](ConfigValue* pair) { return static_cast<PairNode*>(pair)->name().c_str(); };
  auto pairValue = [](ConfigValue* pair) { return static_cast<PairNode*>(pair)->value(); };
  auto nameText = [](ConfigValue* name) { return static_cast<StringValue*>(name)->Get(); };
  ConfigValue* result = nullptr;
  switch (rule) {
    case ConfigRule::kAccept:  // S -> C EOF
      return Value(1);
    case ConfigRule::kFirstSection:  // C -> F
    case ConfigRule::kFirstEntry: {  // P -> R
      result = NewConfigValue(rule == ConfigRule::kFirstSection ? ValueKind::Configuration
                                                                : ValueKind::Struct);
      if (result != nullptr)
        static_cast<StructValue*>(result)->Add(pairName(Value(0)), pairValue(Value(0)));
      break;
    }
    case ConfigRule::kMoreSections:   // C -> F C
    case ConfigRule::kMoreEntries: {  // P -> R P
      result = Value(0);
      static_cast<StructValue*>(result)->Add(pairName(Value(1)), pairValue(Value(1)));
      break;
    }
    case ConfigRule::kSection:  // F -> NAME { P }
      result = new (std::nothrow) PairNode(nameText(Value(3)), Value(1));
      break;
    case ConfigRule::kEntry:  // R -> NAME = D
      result = new (std::nothrow) PairNode(nameText(Value(2)), Value(0));
      break;
    case ConfigRule::kConstant:  // D -> CONST
      result = Value(0);
      break;
    case ConfigRule::kArray:   // D -> ARRAY { A }
    case ConfigRule::kStruct:  // D -> STRUCTURE { P }
      result = Value(1);
      break;
    case ConfigRule::kLastElement:  // A -> D
      result = NewConfigValue(ValueKind::Array);
      if (result != nullptr) static_cast<ArrayValue*>(result)->Append(Value(0));
      break;
    case ConfigRule::kMoreElements:  // A -> D , A
      result = Value(0);
      static_cast<ArrayValue*>(result)->Prepend(Value(2));
      break;
    case ConfigRule::kEmptyArray:  // D -> ARRAY { }
      result = NewConfigValue(ValueKind::Array);
      break;
    case ConfigRule::kEmptyStruct:  // D -> STRUCTURE { }
      result = NewConfigValue(ValueKind::Struct);
      break;
    case ConfigRule::kNone:
      break;
  }
  if (result == nullptr) error_ = true;
  return result;
}

ConfigValue* ConfigParser::Parse() {
  error_ = false;
  top_ = 0;
  states_[0] = 0;
  ReadToken();
  for (;;) {
    if (error_) return nullptr;
    const ConfigParseCell& cell = ConfigParseAction(states_[top_], token_);
    if (cell.next != 0) {
      if (!Push(lookahead_, cell.next)) {
        output_.SyntaxError(lookahead_.offset);  // nesting or pending list too long
        return nullptr;
      }
      ReadToken();
      continue;
    }
    if (cell.rule == ConfigRule::kNone) {
      output_.SyntaxError(lookahead_.offset);
      return nullptr;
    }
    if (output_.TraceEnabled()) output_.Trace(ConfigRuleTrace(cell.rule));
    ConfigValue* result = Reduce(cell.rule);
    if (error_) return nullptr;
    if (cell.leftSide == kSymbolS) {
      result->AddRef();  // the caller's reference; the stacks are released afterwards
      return result;
    }
    // Hold the result while the right side's symbols are popped (it may be one of them).
    result->AddRef();
    size_t offset = symbols_[top_ - cell.length + 1].offset;
    for (int i = 0; i < cell.length; ++i) {
      if (symbols_[top_].value != nullptr) symbols_[top_].value->Release();
      symbols_[top_].value = nullptr;
      --top_;
    }
    int next = ConfigParseAction(states_[top_], cell.leftSide).next;
    bool pushed = next != 0 && Push(ConfigSymbol{offset, result}, next);
    result->Release();
    if (!pushed) {
      output_.SyntaxError(lookahead_.offset);
      return nullptr;
    }
  }
}

}  // namespace

ConfigValue* ReadConfiguration(std::string_view fileContent, const ParseOptions& options) {
  // The text ends at the first NUL, as it would when read into a NUL-terminated buffer.
  size_t length = fileContent.find('\0');
  if (length == std::string_view::npos) length = fileContent.size();
  if (length == 0) return nullptr;
  // Text-mode reading: CR LF becomes LF.
  std::string text;
  text.reserve(length + 1);
  for (size_t i = 0; i < length; ++i) {
    if (fileContent[i] == '\r' && i + 1 < length && fileContent[i + 1] == '\n') continue;
    text += fileContent[i];
  }
  ParserOutput output(options, text.c_str());
  ConfigParser parser(text.c_str(), output);
  return parser.Parse();
}

}  // namespace orvexa
