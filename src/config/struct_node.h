// Struct and Configuration nodes: name -> child, in ascending byte-wise name order.
// Lookups are logarithmic; walking the entries by increasing index (as the writer and
// the plug-in host do) is linear overall thanks to a remembered position.
#pragma once

#include <map>
#include <string>

#include "config/node_base.h"

namespace orvexa {

template <ValueKind kKind>
class MapNode final : public NodeBase<StructValue, kKind> {
 public:
  ~MapNode() override { Clear(); }
  uint32_t Count() const override { return static_cast<uint32_t>(entries_.size()); }
  // A null name (a plug-in's mistake) finds nothing and adds nothing.
  ConfigValue* Find(const char* name) override {
    if (name == nullptr) return nullptr;
    auto it = entries_.find(name);
    return it == entries_.end() ? nullptr : it->second;
  }
  ConfigValue* ValueAt(uint32_t index) override {
    auto it = Seek(index);
    return it == entries_.end() ? nullptr : it->second;
  }
  const char* NameAt(uint32_t index) override {
    auto it = Seek(index);
    return it == entries_.end() ? "" : it->first.c_str();
  }
  void Clear() override {
    Forget();
    auto old = std::move(entries_);
    entries_.clear();
    for (auto& [name, node] : old) node->Release();
  }
  void Remove(const char* name) override {
    if (name == nullptr) return;
    auto it = entries_.find(name);
    if (it == entries_.end()) return;
    Erase(it);
  }
  void RemoveAt(uint32_t index) override {
    auto it = Seek(index);
    if (it != entries_.end()) Erase(it);
  }
  void Add(const char* name, ConfigValue* node) override {
    if (node == nullptr) return;
    node->AddRef();
    if (name == nullptr) {
      node->Release();
      return;
    }
    auto [it, inserted] = entries_.try_emplace(name, node);
    if (!inserted) {
      node->Release();
      return;
    }
    Forget();
  }

 private:
  using Map = std::map<std::string, ConfigValue*>;

  typename Map::iterator Seek(uint32_t index) {
    if (index >= entries_.size()) return entries_.end();
    if (!cursorValid_ || index < cursorIndex_) {
      cursor_ = entries_.begin();
      cursorIndex_ = 0;
      cursorValid_ = true;
    }
    while (cursorIndex_ < index) {
      ++cursor_;
      ++cursorIndex_;
    }
    return cursor_;
  }
  void Erase(typename Map::iterator it) {
    ConfigValue* node = it->second;
    entries_.erase(it);
    Forget();
    node->Release();
  }
  void Forget() { cursorValid_ = false; }

  Map entries_;
  typename Map::iterator cursor_{};
  uint32_t cursorIndex_ = 0;
  bool cursorValid_ = false;
};

using StructNode = MapNode<ValueKind::Struct>;
using ConfigurationNode = MapNode<ValueKind::Configuration>;

}  // namespace orvexa
