#include "config/config_lexer.h"

#include <charconv>
#include <cstring>

#include "config/node_base.h"

namespace orvexa {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsNameChar(char c) {
  return IsLetter(c) || IsDigit(c) || c == '_' || c == '/' || c == '&';
}

bool StartsWith(const char* at, const char* word) {
  return std::strncmp(at, word, std::strlen(word)) == 0;
}

struct Punctuation {
  const char* text;
  int token;
};
// Tried in this order, each as a prefix at the cursor.
constexpr Punctuation kPunctuation[] = {
    {"=", kTokenEquals},    {",", kTokenComma}, {"struct", kTokenStructure},
    {"array", kTokenArray}, {"{", kTokenOpen},  {"}", kTokenClose},
};

}  // namespace

bool ConfigLexer::Attach(ConfigSymbol& symbol, ConfigValue* node) {
  if (node == nullptr) return false;
  node->AddRef();
  symbol.value = node;
  return true;
}

void ConfigLexer::SkipBlanksAndComments() {
  while (IsBlank(text_[cursor_])) ++cursor_;
  while (text_[cursor_] == '/' && text_[cursor_ + 1] == '/') {
    while (text_[cursor_] != '\0' && text_[cursor_] != '\n') ++cursor_;
    if (text_[cursor_] == '\n') ++cursor_;
    while (IsBlank(text_[cursor_])) ++cursor_;
  }
}

int ConfigLexer::Next(ConfigSymbol& symbol) {
  symbol.value = nullptr;
  SkipBlanksAndComments();
  symbol.offset = cursor_;
  const char c = text_[cursor_];

  if (IsDigit(c) || c == '-') return Number(symbol);
  if (c == '"') return QuotedString(symbol);

  if (StartsWith(text_ + cursor_, "true") || StartsWith(text_ + cursor_, "false")) {
    bool value = text_[cursor_] == 't';
    cursor_ += value ? 4 : 5;
    ConfigValue* node = NewConfigValue(ValueKind::Boolean);
    if (!Attach(symbol, node)) return kTokenError;
    static_cast<BooleanValue*>(node)->Set(value);
    return kTokenConst;
  }
  for (const Punctuation& entry : kPunctuation) {
    if (StartsWith(text_ + cursor_, entry.text)) {
      cursor_ += std::strlen(entry.text);
      return entry.token;
    }
  }
  if (!IsLetter(c)) {
    if (c == '\0') return kTokenEof;
    return UnknownSymbol(cursor_);
  }
  size_t start = cursor_;
  while (IsNameChar(text_[cursor_])) ++cursor_;
  std::string name(text_ + start, cursor_ - start);
  ConfigValue* node = NewConfigValue(ValueKind::String);
  if (!Attach(symbol, node)) return kTokenError;
  static_cast<StringValue*>(node)->Set(name.c_str());
  return kTokenName;
}

int ConfigLexer::Number(ConfigSymbol& symbol) {
  const size_t start = cursor_;
  if (text_[cursor_] == '-') ++cursor_;
  size_t integerDigits = 0;
  bool nonZeroInteger = false;
  while (IsDigit(text_[cursor_])) {
    nonZeroInteger |= text_[cursor_] != '0';
    ++cursor_;
    ++integerDigits;
  }
  const char* first = text_ + start;
  if (text_[cursor_] == '.') {
    ++cursor_;
    size_t fractionDigits = 0;
    while (IsDigit(text_[cursor_])) {
      ++cursor_;
      ++fractionDigits;
    }
    float value = 0.0f;
    if (integerDigits + fractionDigits == 0) {
      output_.SyntaxError(start);  // "-." or a lone "-" before a dot
      return kTokenError;
    }
    auto [end, ec] = std::from_chars(first, text_ + cursor_, value, std::chars_format::fixed);
    if (ec == std::errc::result_out_of_range && !nonZeroInteger) {
      // Too small for a float: it is zero (keeping the sign).
      value = text_[start] == '-' ? -0.0f : 0.0f;
    } else if (ec != std::errc() || end != text_ + cursor_) {
      output_.SyntaxError(start);  // does not fit a 32-bit float
      return kTokenError;
    }
    ConfigValue* node = NewConfigValue(ValueKind::Real);
    if (!Attach(symbol, node)) return kTokenError;
    static_cast<RealValue*>(node)->Set(value);
    return kTokenConst;
  }
  int32_t value = 0;
  auto [end, ec] = std::from_chars(first, text_ + cursor_, value);
  if (integerDigits == 0 || ec != std::errc() || end != text_ + cursor_) {
    output_.SyntaxError(start);  // a "-" without digits, or outside 32 bits
    return kTokenError;
  }
  ConfigValue* node = NewConfigValue(ValueKind::Integer);
  if (!Attach(symbol, node)) return kTokenError;
  static_cast<IntegerValue*>(node)->Set(value);
  return kTokenConst;
}

int ConfigLexer::QuotedString(ConfigSymbol& symbol) {
  const size_t start = cursor_ + 1;
  const char* close = std::strchr(text_ + start, '"');
  if (close == nullptr) {
    cursor_ += std::strlen(text_ + cursor_);
    output_.Print("Unterminated string\n");
    return kTokenError;
  }
  size_t end = static_cast<size_t>(close - text_);
  std::string value(text_ + start, end - start);
  cursor_ = end + 1;
  ConfigValue* node = NewConfigValue(ValueKind::String);
  if (!Attach(symbol, node)) return kTokenError;
  static_cast<StringValue*>(node)->Set(value.c_str());
  return kTokenConst;
}

int ConfigLexer::UnknownSymbol(size_t offset) {
  output_.Printf("\n\nUnknown symbol '%c' found at line %d\n", text_[offset],
                 output_.LineOf(offset));
  output_.EchoSourceLine(offset);
  output_.Print("\n");
  return kTokenError;
}

}  // namespace orvexa
