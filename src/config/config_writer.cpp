#include "config/config_writer.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "config/config_access.h"

namespace orvexa {
namespace {

void Indent(std::string& out, int depth) {
  if (depth > 0) out.append(static_cast<size_t>(3 * depth), ' ');
}

void WriteInteger(std::string& out, int32_t value) {
  char buffer[16];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

// "%f" of the value widened to double: fixed point, six decimals. Written without the C
// library's locale, so a decimal comma never reaches the file. NaN and infinity have no
// form the parser reads: NaN is written as 0, infinity as the largest float.
void WriteReal(std::string& out, float value) {
  if (std::isnan(value)) value = 0.0f;
  if (std::isinf(value))
    value = value > 0 ? std::numeric_limits<float>::max() : -std::numeric_limits<float>::max();
  char buffer[64];  // the largest float needs 39 digits, a sign, a point and 6 decimals
  auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                              std::chars_format::fixed, 6);
  out.append(buffer, result.ptr);
}

void WriteEntries(std::string& out, StructValue* map, int depth) {
  uint32_t count = map->Count();
  for (uint32_t i = 0; i < count; ++i) {
    const char* name = map->NameAt(i);
    ConfigValue* value = map->ValueAt(i);
    // An entry the parser cannot read back would make the whole file unreadable.
    if (!IsWritableConfigName(name) || !IsWritableConfigValue(value)) continue;
    out += name;
    out += '=';
    WriteConfiguration(out, value, depth + 1);
    out += '\n';
    Indent(out, depth);
  }
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

bool IsWritableConfigName(const char* name) {
  if (name == nullptr || !IsLetter(name[0])) return false;
  for (const char* keyword : {"true", "false", "struct", "array"}) {
    if (std::string_view(name).starts_with(keyword)) return false;
  }
  for (const char* c = name; *c != '\0'; ++c) {
    if (!IsLetter(*c) && !(*c >= '0' && *c <= '9') && *c != '_' && *c != '/' && *c != '&')
      return false;
  }
  return true;
}

void WriteConfiguration(std::string& out, ConfigValue* node, int depth) {
  if (node == nullptr) return;
  switch (node->Kind()) {
    case ValueKind::Integer:
      WriteInteger(out, static_cast<IntegerValue*>(node)->Get());
      break;
    case ValueKind::Real:
      WriteReal(out, static_cast<RealValue*>(node)->Get());
      break;
    case ValueKind::Boolean:
      out += static_cast<BooleanValue*>(node)->Get() ? "true" : "false";
      break;
    case ValueKind::String: {
      out += '"';
      // The reader takes CR LF for LF (text-mode reading), so a value's own CR before an
      // LF is written with one more CR, or the next start would lose it (and every save
      // after that another one).
      for (const char* c = static_cast<StringValue*>(node)->Get(); *c != '\0'; ++c) {
        if (*c == '\n' && !out.empty() && out.back() == '\r') out += '\r';
        out += *c;
      }
      out += '"';
      break;
    }
    case ValueKind::Array: {
      auto* array = static_cast<ArrayValue*>(node);
      out += "array {\n";
      Indent(out, depth);
      uint32_t size = array->Size();
      bool first = true;
      for (uint32_t i = 0; i < size; ++i) {
        ConfigValue* element = array->At(i);
        if (!IsWritableConfigValue(element)) continue;
        if (!first) out += ',';
        first = false;
        WriteConfiguration(out, element, depth + 1);
      }
      out += "}\n";
      Indent(out, depth);
      break;
    }
    case ValueKind::Struct: {
      auto* map = static_cast<StructValue*>(node);
      if (depth == 1) {
        WriteEntries(out, map, depth);
        break;
      }
      out += "struct {\n";
      Indent(out, depth);
      WriteEntries(out, map, depth);
      out += "}\n";
      Indent(out, depth);
      break;
    }
    case ValueKind::Configuration: {
      auto* root = static_cast<StructValue*>(node);
      uint32_t count = root->Count();
      for (uint32_t i = 0; i < count; ++i) {
        ConfigValue* section = root->ValueAt(i);
        const char* name = root->NameAt(i);
        // Only a struct with at least one entry can be read back as a section.
        if (section == nullptr || section->Kind() != ValueKind::Struct ||
            !HasWritableEntry(static_cast<StructValue*>(section)) || !IsWritableConfigName(name))
          continue;
        out += name;
        out += " {\n";
        Indent(out, depth + 1);
        WriteConfiguration(out, section, depth + 1);
        out += "}\n";
        Indent(out, depth);
      }
      break;
    }
    default:
      break;
  }
}

bool IsWritableConfigValue(ConfigValue* node) {
  if (node == nullptr) return false;
  switch (node->Kind()) {
    case ValueKind::Integer:
    case ValueKind::Real:
    case ValueKind::Boolean:
    case ValueKind::String:
    case ValueKind::Array:
    case ValueKind::Struct:
      return true;
    default:
      return false;
  }
}

bool HasWritableEntry(StructValue* map) {
  uint32_t count = map->Count();
  for (uint32_t i = 0; i < count; ++i) {
    if (IsWritableConfigName(map->NameAt(i)) && IsWritableConfigValue(map->ValueAt(i))) return true;
  }
  return false;
}

}  // namespace orvexa
