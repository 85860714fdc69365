#include "transport/hello_failure_bound.h"

#include <gtest/gtest.h>

namespace orvexa {
namespace {

HostAddress V6(const char* text) {
  return *HostAddress::Parse(text);
}

// Ten refusals close an address for a minute; an IPv6 client cannot escape by taking the
// next address of its /64, nor reopen a closed address by filling the table with others.
TEST(HelloFailureBoundTest, ClosesAfterTheRefusalsAcrossItsNetworkAndKeepsItClosed) {
  HelloFailureBound bound;
  const HostAddress attacker = V6("2001:db8:1:2::7");
  for (uint32_t k = 1; k < HelloFailureBound::kMaxFailures; ++k)
    EXPECT_FALSE(bound.RecordFailure(attacker, 1000 + k));
  EXPECT_FALSE(bound.IsBlocked(attacker, 1100));
  EXPECT_TRUE(bound.RecordFailure(V6("2001:db8:1:2::8"), 1100));  // the same /64
  EXPECT_TRUE(bound.IsBlocked(V6("2001:db8:1:2:ffff::1"), 1200));
  EXPECT_FALSE(bound.IsBlocked(V6("2001:db8:1:3::7"), 1200));  // another network
  EXPECT_FALSE(bound.IsBlocked(HostAddress(10, 0, 0, 7), 1200));

  for (uint32_t k = 0; k < HelloFailureBound::kMaxAddresses + 10; ++k)
    bound.RecordFailure(HostAddress(10, 1, static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k)),
                        2000 + k);
  EXPECT_TRUE(bound.IsBlocked(attacker, 10000));
  EXPECT_FALSE(bound.IsBlocked(attacker, 1100 + HelloFailureBound::kBlockMs));
}

}  // namespace
}  // namespace orvexa
