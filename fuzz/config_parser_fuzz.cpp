// Lexer, parser and writer of orvexa.cfg on arbitrary bytes. Every input either fails
// cleanly (null, nothing leaked) or parses to a tree whose written form parses back, and
// writing that second tree gives the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/config_parser.h"
#include "config/config_writer.h"

namespace {

orvexa::ParseOptions Quiet() {
  orvexa::ParseOptions options;
  options.trace = false;
  options.diagnostics = false;
  return options;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvexa;
  const ParseOptions options = Quiet();
  ConfigValue* first =
      ReadConfiguration(std::string_view(reinterpret_cast<const char*>(data), size), options);
  if (first == nullptr) return 0;
  std::string written;
  WriteConfiguration(written, first, 0);
  first->Release();
  if (written.empty()) return 0;  // only empty sections: nothing to read back
  ConfigValue* second = ReadConfiguration(written, options);
  if (second == nullptr) std::abort();  // the writer produced a file the parser refuses
  std::string rewritten;
  WriteConfiguration(rewritten, second, 0);
  second->Release();
  if (rewritten != written) std::abort();  // writing is not stable
  return 0;
}
