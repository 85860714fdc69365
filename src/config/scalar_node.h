// Integer, Real and Boolean nodes: one value of a plain type.
#pragma once

#include "config/node_base.h"

namespace orvexa {

template <class Interface, typename T, ValueKind kKind>
class ScalarNode final : public NodeBase<Interface, kKind> {
 public:
  explicit ScalarNode(T value = T{}) : value_(value) {}
  void Set(T value) override { value_ = value; }
  void Exchange(T* variable, bool store) override {
    if (variable == nullptr) return;
    if (store)
      value_ = *variable;
    else
      *variable = value_;
  }
  T Get() const override { return value_; }

 private:
  T value_;
};

using IntegerNode = ScalarNode<IntegerValue, int32_t, ValueKind::Integer>;
using RealNode = ScalarNode<RealValue, float, ValueKind::Real>;
using BooleanNode = ScalarNode<BooleanValue, bool, ValueKind::Boolean>;

}  // namespace orvexa
