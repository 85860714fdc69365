#include "config/config_writer.h"

#include <cstdio>

#include "config/config_access.h"

namespace orvexa {
namespace {

void Indent(std::string& out, int depth) {
  if (depth > 0) out.append(static_cast<size_t>(3 * depth), ' ');
}

void AppendFormatted(std::string& out, const char* format, auto value) {
  char buffer[64];
  int n = std::snprintf(buffer, sizeof buffer, format, value);
  if (n > 0) out.append(buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

void WriteEntries(std::string& out, StructValue* map, int depth) {
  uint32_t count = map->Count();
  for (uint32_t i = 0; i < count; ++i) {
    out += map->NameAt(i);
    out += '=';
    WriteConfiguration(out, map->ValueAt(i), depth + 1);
    out += '\n';
    Indent(out, depth);
  }
}

}  // namespace

void WriteConfiguration(std::string& out, ConfigValue* node, int depth) {
  if (node == nullptr) return;
  switch (node->Kind()) {
    case ValueKind::Integer:
      AppendFormatted(out, "%d", static_cast<IntegerValue*>(node)->Get());
      break;
    case ValueKind::Real: {
      // "%f" of a float can need up to 46 digits before the point; print it unbounded.
      double value = static_cast<RealValue*>(node)->Get();
      int n = std::snprintf(nullptr, 0, "%f", value);
      if (n > 0) {
        std::string text(static_cast<size_t>(n) + 1, '\0');
        std::snprintf(text.data(), text.size(), "%f", value);
        text.resize(static_cast<size_t>(n));
        out += text;
      }
      break;
    }
    case ValueKind::Boolean:
      out += static_cast<BooleanValue*>(node)->Get() ? "true" : "false";
      break;
    case ValueKind::String:
      out += '"';
      out += static_cast<StringValue*>(node)->Get();
      out += '"';
      break;
    case ValueKind::Array: {
      auto* array = static_cast<ArrayValue*>(node);
      out += "array {\n";
      Indent(out, depth);
      uint32_t size = array->Size();
      for (uint32_t i = 0; i < size; ++i) {
        if (i > 0) out += ',';
        WriteConfiguration(out, array->At(i), depth + 1);
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
        // Only a struct with at least one entry can be read back as a section.
        StructValue* asMap = AsStruct(section);
        if (asMap == nullptr || section->Kind() != ValueKind::Struct || asMap->Count() == 0)
          continue;
        out += root->NameAt(i);
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

}  // namespace orvexa
