// String node: a byte string without embedded NUL. A double quote cannot be written to
// the configuration file, so Set turns each '"' into '\'' (see config_value.h).
#pragma once

#include <string>

#include "config/node_base.h"

namespace orvexa {

class StringNode final : public NodeBase<StringValue, ValueKind::String> {
 public:
  StringNode() = default;
  explicit StringNode(const char* text) { Set(text); }
  void Set(const char* text) override;
  void Exchange(const char** variable, bool store) override;
  const char* Get() const override { return text_.c_str(); }

 private:
  std::string text_;
};

}  // namespace orvexa
