// Pair node: one (name, value) of a section or struct entry while the parser builds the
// tree bottom-up. It lives only on the parser's symbol stack and is never stored in a
// tree. Holds one reference on its value.
#pragma once

#include <string>

#include "config/node_base.h"

namespace orvexa {

class PairNode final : public NodeBase<ConfigValue, ValueKind::Pair> {
 public:
  PairNode(std::string name, ConfigValue* value) : name_(std::move(name)), value_(value) {
    if (value_ != nullptr) value_->AddRef();
  }
  ~PairNode() override {
    if (value_ != nullptr) value_->Release();
  }
  const std::string& name() const { return name_; }
  ConfigValue* value() const { return value_; }

 private:
  std::string name_;
  ConfigValue* value_;
};

}  // namespace orvexa
