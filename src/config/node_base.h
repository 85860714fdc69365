// Reference counting and kind shared by every configuration node of the server.
// Used by the node classes of this folder only; see plugin_api/config_value.h for the
// contract and the threading rules (main thread only, plain counts).
#pragma once

#include <cstdint>

#include "plugin_api/config_value.h"

namespace orvexa {

// Creates an empty node of kind 1..7, or null. Defined in config_factory.cpp.
ConfigValue* NewConfigValue(ValueKind kind);

template <class Interface, ValueKind kKind>
class NodeBase : public Interface {
 public:
  void AddRef() override { ++references_; }
  void Release() override {
    if (--references_ == 0) delete this;
  }
  ValueKind Kind() const override { return kKind; }
  ConfigValue* CreateValue(ValueKind kind) override { return NewConfigValue(kind); }

 private:
  uint32_t references_ = 0;
};

}  // namespace orvexa
