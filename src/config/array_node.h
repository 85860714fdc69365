// Array node: an ordered sequence of child nodes; both ends grow in constant time.
#pragma once

#include <deque>

#include "config/node_base.h"

namespace orvexa {

class ArrayNode final : public NodeBase<ArrayValue, ValueKind::Array> {
 public:
  ~ArrayNode() override;
  uint32_t Size() const override { return static_cast<uint32_t>(items_.size()); }
  ConfigValue* At(uint32_t index) override { return items_[index]; }
  void Clear() override;
  void Erase(uint32_t index) override;
  void Append(ConfigValue* node) override;
  void Prepend(ConfigValue* node) override;

 private:
  std::deque<ConfigValue*> items_;
};

}  // namespace orvexa
