#include "transport/host_address.h"

#include <cstdio>

namespace orvexa {
namespace {

constexpr size_t kGroups = 8;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDecimal(char c) {
  return c >= '0' && c <= '9';
}

// Reads "a.b.c.d" from the start of `text`; `used` is how far it read.
bool ReadDotted(std::string_view text, HostAddress::V4Bytes& out, size_t& used) {
  size_t i = 0;
  for (size_t part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
    if (i >= text.size() || !IsDecimal(text[i])) return false;
    unsigned number = 0;
    while (i < text.size() && IsDecimal(text[i])) {
      number = number * 10 + static_cast<unsigned>(text[i] - '0');
      if (number > 255) return false;
      ++i;
    }
    out[part] = static_cast<uint8_t>(number);
  }
  used = i;
  return true;
}

// The colon-separated groups of one side of "::" (empty text: none). The last group may
// be an IPv4 tail (two groups) when `tailAllowed`.
bool ReadGroups(std::string_view text, bool tailAllowed, uint16_t* groups, size_t& count) {
  count = 0;
  if (text.empty()) return true;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    const std::string_view group = text.substr(
        start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
    const bool last = colon == std::string_view::npos;
    if (last && tailAllowed && group.find('.') != std::string_view::npos) {
      HostAddress::V4Bytes v4{};
      size_t used = 0;
      if (!ReadDotted(group, v4, used) || used != group.size() || count + 2 > kGroups) return false;
      groups[count++] = static_cast<uint16_t>(v4[0] << 8 | v4[1]);
      groups[count++] = static_cast<uint16_t>(v4[2] << 8 | v4[3]);
      return true;
    }
    if (group.empty() || group.size() > 4 || count == kGroups) return false;
    unsigned value = 0;
    for (char c : group) {
      const int digit = HexDigit(c);
      if (digit < 0) return false;
      value = value << 4 | static_cast<unsigned>(digit);
    }
    groups[count++] = static_cast<uint16_t>(value);
    if (last) return true;
    start = colon + 1;
  }
}

std::optional<HostAddress> ParseV6(std::string_view text) {
  const size_t zone = text.find('%');
  if (zone != std::string_view::npos) text = text.substr(0, zone);
  uint16_t head[kGroups], tail[kGroups];
  size_t headCount = 0, tailCount = 0;
  const size_t gap = text.find("::");
  if (gap == std::string_view::npos) {
    if (!ReadGroups(text, true, head, headCount) || headCount != kGroups) return std::nullopt;
  } else {
    if (!ReadGroups(text.substr(0, gap), false, head, headCount) ||
        !ReadGroups(text.substr(gap + 2), true, tail, tailCount) ||
        headCount + tailCount >= kGroups)
      return std::nullopt;
  }
  HostAddress::Bytes bytes{};
  auto put = [&bytes](size_t at, uint16_t group) {
    bytes[2 * at] = static_cast<uint8_t>(group >> 8);
    bytes[2 * at + 1] = static_cast<uint8_t>(group & 0xff);
  };
  for (size_t i = 0; i < headCount; ++i) put(i, head[i]);
  for (size_t i = 0; i < tailCount; ++i) put(kGroups - tailCount + i, tail[i]);
  return HostAddress::FromBytes(bytes);
}

}  // namespace

HostAddress HostAddress::FromBytes(const Bytes& bytes) {
  HostAddress address;
  address.bytes_ = bytes;
  return address;
}

std::optional<HostAddress> HostAddress::ParseDotted(std::string_view text) {
  V4Bytes v4{};
  size_t used = 0;
  if (!ReadDotted(text, v4, used)) return std::nullopt;
  return FromV4(v4);
}

std::optional<HostAddress> HostAddress::Parse(std::string_view text) {
  if (std::optional<HostAddress> dotted = ParseDotted(text)) return dotted;
  return ParseV6(text);
}

bool HostAddress::IsV4() const {
  for (size_t i = 0; i < 10; ++i)
    if (bytes_[i] != 0) return false;
  return bytes_[10] == 0xff && bytes_[11] == 0xff;
}

bool HostAddress::IsUnspecified() const {
  return *this == HostAddress() || *this == HostAddress(0, 0, 0, 0);
}

std::string HostAddress::ToString() const {
  char text[48];
  if (IsV4()) {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes_[12], bytes_[13], bytes_[14], bytes_[15]);
    return text;
  }
  uint16_t groups[kGroups];
  for (size_t i = 0; i < kGroups; ++i)
    groups[i] = static_cast<uint16_t>(bytes_[2 * i] << 8 | bytes_[2 * i + 1]);
  // The longest run of two or more zero groups (the first of equal ones) becomes "::".
  size_t bestStart = kGroups, bestLength = 1;
  for (size_t i = 0; i < kGroups;) {
    size_t j = i;
    while (j < kGroups && groups[j] == 0) ++j;
    if (j - i > bestLength) {
      bestStart = i;
      bestLength = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  std::string out;
  for (size_t i = 0; i < kGroups; ++i) {
    if (i == bestStart) {
      out += "::";
      i += bestLength - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':') out += ':';
    std::snprintf(text, sizeof text, "%x", groups[i]);
    out += text;
  }
  return out;
}

}  // namespace orvexa
