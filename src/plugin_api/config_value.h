// Configuration nodes as a device plug-in sees them.
//
// The server owns the configuration tree and lends a plug-in one Struct node (its
// section) for the duration of a single LDPInit or LDPConfig call. The plug-in reaches
// the node only through the virtual functions below, so their ORDER, argument types and
// results are a binary contract between separately built libraries: never reorder,
// insert or remove a virtual function here. A plug-in needs this header only; the
// implementations live in the server (src/config).
//
// Ownership: nodes are reference counted. A new node starts at count 0; every holder
// calls AddRef once and Release when it drops the node, and the node deletes itself
// when Release brings the count to 0. Pointers returned by Find, At, ValueAt and Get are
// borrowed: they stay valid while the entry stays in its container.
//
// Threads: the tree has no lock and plain counts. The server touches it on its main
// thread only, and lends sections to plug-ins during calls made there.
#pragma once

#include <cstdint>

namespace orvexa {

enum class ValueKind : int32_t {
  Integer = 1,
  Real = 2,
  Boolean = 3,
  String = 4,
  Array = 5,
  Struct = 6,
  Configuration = 7,
  Pair = 11,  // parser-internal, never stored in a tree
};

class ConfigValue {
 public:
  virtual ~ConfigValue() = default;
  virtual void AddRef() = 0;
  virtual void Release() = 0;
  virtual ValueKind Kind() const = 0;
  // A new empty node of kind 1..7 (0, 0.0, false, "", empty container), count 0;
  // null for any other kind.
  virtual ConfigValue* CreateValue(ValueKind kind) = 0;
};

class IntegerValue : public ConfigValue {
 public:
  virtual void Set(int32_t value) = 0;
  // store == true copies *variable into the node, else the node's value into *variable.
  virtual void Exchange(int32_t* variable, bool store) = 0;
  virtual int32_t Get() const = 0;
};

class RealValue : public ConfigValue {
 public:
  virtual void Set(float value) = 0;
  virtual void Exchange(float* variable, bool store) = 0;
  virtual float Get() const = 0;
};

class BooleanValue : public ConfigValue {
 public:
  virtual void Set(bool value) = 0;
  virtual void Exchange(bool* variable, bool store) = 0;
  virtual bool Get() const = 0;
};

class StringValue : public ConfigValue {
 public:
  // Copies the text. A double quote cannot be stored in the file format, so the node
  // replaces each '"' by '\'' (a save must never write a file the next start refuses).
  virtual void Set(const char* text) = 0;
  // store: copy *variable's text in; load: *variable = the node's own text ("" when empty),
  // valid while the node lives and is unchanged.
  virtual void Exchange(const char** variable, bool store) = 0;
  virtual const char* Get() const = 0;
};

class ArrayValue : public ConfigValue {
 public:
  virtual uint32_t Size() const = 0;
  // No range check: the caller keeps index < Size().
  virtual ConfigValue* At(uint32_t index) = 0;
  virtual void Clear() = 0;
  virtual void Erase(uint32_t index) = 0;
  virtual void Append(ConfigValue* node) = 0;   // takes a reference
  virtual void Prepend(ConfigValue* node) = 0;  // takes a reference
};

// Struct and Configuration (the root) share this shape. Entries are kept in ascending
// byte-wise name order; iteration by index follows that order.
class StructValue : public ConfigValue {
 public:
  virtual uint32_t Count() const = 0;
  virtual ConfigValue* Find(const char* name) = 0;
  virtual ConfigValue* ValueAt(uint32_t index) = 0;  // null when index >= Count()
  virtual const char* NameAt(uint32_t index) = 0;    // "" when index >= Count()
  virtual void Clear() = 0;
  virtual void Remove(const char* name) = 0;
  virtual void RemoveAt(uint32_t index) = 0;
  // Inserts when the name is absent (taking a reference). When present, the existing
  // entry stays and the new node is released (destroyed if nobody else holds it).
  virtual void Add(const char* name, ConfigValue* node) = 0;
};

}  // namespace orvexa
