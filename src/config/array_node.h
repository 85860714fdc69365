// Array node: an ordered sequence of child nodes; both ends grow in constant time.
#pragma once

#include <deque>

#include "config/node_base.h"

namespace orvexa {

class ArrayNode final : public NodeBase<ArrayValue, ValueKind::Array> {
 public:
  ~ArrayNode() override;
  uint32_t Size() const override { return static_cast<uint32_t>(items_.size()); }
  // Callers keep index < Size(); an index beyond the end (a plug-in's mistake) yields
  // null instead of reading outside the sequence.
  ConfigValue* At(uint32_t index) override {
    return index < items_.size() ? items_[index] : nullptr;
  }
  void Clear() override;
  void Erase(uint32_t index) override;
  void Append(ConfigValue* node) override;
  void Prepend(ConfigValue* node) override;

 private:
  std::deque<ConfigValue*> items_;
};

}  // namespace orvexa
