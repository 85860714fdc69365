#include "config/parser_output.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/debug_output.h"

namespace orvexa {

void ParserOutput::Trace(std::string_view line) {
  if (!options_.trace) return;
  if (options_.capture != nullptr) {
    options_.capture->append(line);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
  DebugOutput(line);
}

void ParserOutput::Print(std::string_view text) {
  if (!options_.diagnostics) return;
  if (options_.capture != nullptr)
    options_.capture->append(text);
  else
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void ParserOutput::Printf(const char* format, ...) {
  if (!options_.diagnostics) return;
  char buffer[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n <= 0) return;
  Print(std::string_view(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1)));
}

int ParserOutput::LineOf(size_t offset) const {
  int line = 1;
  for (size_t i = 0; i < offset && text_[i] != '\0'; ++i)
    if (text_[i] == '\n') ++line;
  return line;
}

void ParserOutput::EchoSourceLine(size_t offset) {
  size_t start = offset;
  while (start > 0 && text_[start - 1] != '\n') --start;
  size_t end = offset;
  while (text_[end] != '\0' && text_[end] != '\n') ++end;
  std::string echo(text_ + start, end - start);
  echo += '\n';
  echo.append((offset - start) % 80, ' ');
  echo += "^\n";
  Print(echo);
}

void ParserOutput::SyntaxError(size_t offset) {
  Printf("Syntax error at line:%d\n", LineOf(offset));
  EchoSourceLine(offset);
}

}  // namespace orvexa
