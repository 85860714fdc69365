// HostAddress: the network address of a client as one value of 16 bytes, an IPv6
// address, with an IPv4 address held in its IPv4-mapped form (::ffff:a.b.c.d), so that
// both families compare, count and hash alike. Used where clients are counted or bounded
// per address (the openings per address of ConnectionTracker), and read from a local
// proxy's "X-Real-IP" header.
//
// A plain value: no lock, any thread.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvexa {

class HostAddress {
 public:
  using Bytes = std::array<uint8_t, 16>;
  using V4Bytes = std::array<uint8_t, 4>;

  // The unspecified address "::".
  constexpr HostAddress() = default;
  // The IPv4 address a.b.c.d.
  constexpr HostAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
      : bytes_{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, a, b, c, d} {}
  static HostAddress FromV4(const V4Bytes& v4) { return {v4[0], v4[1], v4[2], v4[3]}; }
  static HostAddress FromBytes(const Bytes& bytes);

  // "%u.%u.%u.%u", every number below 256, anything after the fourth number ignored.
  static std::optional<HostAddress> ParseDotted(std::string_view text);
  // The dotted form above, or else a complete IPv6 text (RFC 4291: eight groups, one
  // "::", an IPv4 tail; a "%zone" suffix is dropped). Nothing for anything else.
  static std::optional<HostAddress> Parse(std::string_view text);

  const Bytes& bytes() const { return bytes_; }
  // An IPv4 address (mapped); V4 gives its four bytes, first byte = first dotted number.
  bool IsV4() const;
  V4Bytes V4() const { return {bytes_[12], bytes_[13], bytes_[14], bytes_[15]}; }
  // "::" or 0.0.0.0: no address at all.
  bool IsUnspecified() const;
  // Dotted for IPv4, otherwise the RFC 5952 text (lower case, the longest run of zero
  // groups as "::").
  std::string ToString() const;

  friend constexpr auto operator<=>(const HostAddress&, const HostAddress&) = default;

 private:
  Bytes bytes_{};
};

}  // namespace orvexa
