// Client addresses of both families as a proxy's "X-Real-IP" names them: what parses,
// what it equals, and its text.
#include "transport/host_address.h"

#include <gtest/gtest.h>

namespace orvexa {
namespace {

TEST(HostAddressTest, ParsesBothFamiliesAndPrintsThemBack) {
  struct Case {
    const char* text;
    const char* printed;  // nullptr: refused
  } cases[] = {
      {"10.1.2.3", "10.1.2.3"},
      {"10.1.2.3:8080", "10.1.2.3"},  // anything after a dotted address is ignored
      {"10.1.2.300", nullptr},
      {"10.1.2", nullptr},
      {"2001:db8::7", "2001:db8::7"},
      {"2001:DB8:0:0:0:0:0:7", "2001:db8::7"},
      {"::ffff:10.1.2.3", "10.1.2.3"},  // the IPv4 address itself
      {"64:ff9b::10.1.2.3", "64:ff9b::a01:203"},
      {"fe80::1%eth0", "fe80::1"},
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
      {"1:0:0:2:0:0:0:3", "1:0:0:2::3"},
      {"1:0:2:3:4:5:6:7", "1:0:2:3:4:5:6:7"},  // one zero group stays
      {"::", "::"},
      {"1::2::3", nullptr},
      {"12345::", nullptr},
      {":1::", nullptr},
      {"1:2:3:4:5:6:7:8:9", nullptr},
      {"1:2:3:4:5:6:7::8", nullptr},
      {"::1.2.3", nullptr},
      {"1.2.3.4::", "1.2.3.4"},
      {"g::", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    std::optional<HostAddress> parsed = HostAddress::Parse(c.text);
    ASSERT_EQ(parsed.has_value(), c.printed != nullptr) << c.text;
    if (!parsed) continue;
    EXPECT_EQ(parsed->ToString(), c.printed) << c.text;
    EXPECT_EQ(HostAddress::Parse(parsed->ToString()), parsed) << c.text;
  }
  EXPECT_EQ(HostAddress::Parse("::ffff:10.1.2.3"), HostAddress(10, 1, 2, 3));
  EXPECT_TRUE(HostAddress::Parse("::ffff:10.1.2.3")->IsV4());
  EXPECT_FALSE(HostAddress::Parse("2001:db8::7")->IsV4());
  EXPECT_NE(HostAddress::Parse("::a01:203"), HostAddress(10, 1, 2, 3));
  EXPECT_TRUE(HostAddress::Parse("0.0.0.0")->IsUnspecified());
  EXPECT_TRUE(HostAddress::Parse("::")->IsUnspecified());
}

}  // namespace
}  // namespace orvexa
