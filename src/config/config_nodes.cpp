// Out-of-line members of the node classes and the node factory.
#include <new>

#include "config/array_node.h"
#include "config/scalar_node.h"
#include "config/string_node.h"
#include "config/struct_node.h"

namespace orvexa {

ConfigValue* NewConfigValue(ValueKind kind) {
  switch (kind) {
    case ValueKind::Integer:
      return new (std::nothrow) IntegerNode();
    case ValueKind::Real:
      return new (std::nothrow) RealNode();
    case ValueKind::Boolean:
      return new (std::nothrow) BooleanNode();
    case ValueKind::String:
      return new (std::nothrow) StringNode();
    case ValueKind::Array:
      return new (std::nothrow) ArrayNode();
    case ValueKind::Struct:
      return new (std::nothrow) StructNode();
    case ValueKind::Configuration:
      return new (std::nothrow) ConfigurationNode();
    default:
      return nullptr;
  }
}

void StringNode::Set(const char* text) {
  text_ = text != nullptr ? text : "";
  for (char& c : text_) {
    if (c == '"') c = '\'';
  }
}

void StringNode::Exchange(const char** variable, bool store) {
  if (variable == nullptr) return;
  if (store)
    Set(*variable);
  else
    *variable = text_.c_str();
}

ArrayNode::~ArrayNode() {
  Clear();
}

void ArrayNode::Clear() {
  auto old = std::move(items_);
  items_.clear();
  for (ConfigValue* node : old) node->Release();
}

void ArrayNode::Erase(uint32_t index) {
  if (index >= items_.size()) return;
  ConfigValue* node = items_[index];
  items_.erase(items_.begin() + index);
  node->Release();
}

void ArrayNode::Append(ConfigValue* node) {
  if (node == nullptr) return;
  node->AddRef();
  items_.push_back(node);
}

void ArrayNode::Prepend(ConfigValue* node) {
  if (node == nullptr) return;
  node->AddRef();
  items_.push_front(node);
}

}  // namespace orvexa
