// Where the configuration parser's messages go: the reduction trace ("Redukce ...") and
// the diagnostics (unknown symbol, unterminated string, syntax error with the echo of
// the source line and a caret under the token). By default both go to standard output
// and the trace also to the debugger channel (standard error with ORVEXA_DEBUG set);
// tests capture them in a string, the fuzz target and the benchmark turn the trace off.
//
// One instance per parse, used by the parse's thread only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvexa {

struct ParseOptions {
  // Print one trace line per reduction.
  bool trace = true;
  // When set, all output is appended here instead of standard output (the debugger
  // channel is not used then).
  std::string* capture = nullptr;
  // When false, diagnostics are dropped too (nothing is printed at all).
  bool diagnostics = true;
};

class ParserOutput {
 public:
  ParserOutput(const ParseOptions& options, const char* text) : options_(options), text_(text) {}

  bool TraceEnabled() const { return options_.trace; }
  void Trace(std::string_view line);
  void Print(std::string_view text);
  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Line of a byte offset: 1 plus the line feeds before it.
  int LineOf(size_t offset) const;
  // The whole line holding `offset`, "\n", (column % 80) blanks, "^\n".
  void EchoSourceLine(size_t offset);
  // "Syntax error at line:%d\n" and the echo of the token's line.
  void SyntaxError(size_t offset);

 private:
  const ParseOptions& options_;
  const char* text_;  // NUL-terminated text being parsed
};

}  // namespace orvexa
