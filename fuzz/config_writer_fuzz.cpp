// Placeholder-free seed target: builds a small tree from the input bytes (names and
// strings) and checks the writer never produces an unreadable section. The lexer/parser
// round-trip target joins it once the parser exists.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/config_access.h"
#include "config/config_writer.h"
#include "config/node_base.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvexa;
  ConfigValue* root = NewConfigValue(ValueKind::Configuration);
  root->AddRef();
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string name;
  for (char c : text) {
    if (c == '\0') continue;
    if (c == ';') {
      if (!name.empty()) SetString(GetOrCreateSection(root, "S"), name.c_str(), text.c_str());
      name.clear();
    } else {
      name += c;
    }
  }
  std::string out;
  WriteConfiguration(out, root, 0);
  root->Release();
  return 0;
}
