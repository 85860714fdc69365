// The server's dispatch answers exactly the requests of the catalog: a handler for every
// listed code, none for any other (those end the connection).
#include "protocol/request_table.h"

#include <gtest/gtest.h>

#include <set>

namespace orvexa {
namespace {

TEST(RequestTableTest, HandlesExactlyTheCatalogsCodes) {
  std::set<int> listed;
  for (const RequestCatalogEntry& entry : kRequestCatalog)
    EXPECT_TRUE(listed.insert(static_cast<int>(entry.code)).second) << entry.name << " twice";
  const RequestTable& table = RequestTable::Standard();
  for (int code = 0; code < 256; ++code)
    EXPECT_EQ(table.Find(static_cast<uint8_t>(code)) != nullptr, listed.count(code) == 1)
        << "code " << code;
}

}  // namespace
}  // namespace orvexa
