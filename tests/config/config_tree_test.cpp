#include <gtest/gtest.h>

#include <string>

#include "config/config_access.h"
#include "config/config_writer.h"
#include "config/node_base.h"

namespace orvexa {
namespace {

struct TreeHolder {
  ConfigValue* root = NewConfigValue(ValueKind::Configuration);
  TreeHolder() { root->AddRef(); }
  ~TreeHolder() { root->Release(); }
};

TEST(ConfigTree, StructKeepsFirstValueAndSortsByteWise) {
  TreeHolder tree;
  StructValue* section = GetOrCreateSection(tree.root, "X");
  ASSERT_NE(section, nullptr);
  SetInt(section, "b", 1);
  SetInt(section, "A", 2);
  SetInt(section, "a", 3);
  ConfigValue* second = section->CreateValue(ValueKind::Integer);
  static_cast<IntegerValue*>(second)->Set(99);
  section->Add("a", second);  // already present: keeps 3, destroys the new node
  EXPECT_STREQ(section->NameAt(0), "A");
  EXPECT_STREQ(section->NameAt(1), "a");
  EXPECT_STREQ(section->NameAt(2), "b");
  EXPECT_STREQ(section->NameAt(3), "");
  EXPECT_EQ(section->ValueAt(3), nullptr);
  EXPECT_EQ(GetInt(section, "a", 0), 3);
}

TEST(ConfigTree, GettersNeverConvertKinds) {
  TreeHolder tree;
  StructValue* section = GetOrCreateSection(tree.root, "OrvexaConfig");
  SetString(section, "MaxClientCount", "50x");
  EXPECT_EQ(GetInt(section, "MaxClientCount", 50), 50);
  SetInt(section, "MaxClientCount", 7);  // replaces the string entry
  EXPECT_EQ(GetInt(section, "MaxClientCount", 50), 7);
  EXPECT_FALSE(GetBool(section, "MaxClientCount", false));
}

TEST(ConfigWriter, WritesSortedEntriesAndSkipsEmptySections) {
  TreeHolder tree;
  StructValue* section = GetOrCreateSection(tree.root, "OrvexaConfig");
  SetBool(section, "Enable", true);
  SetInt(section, "MaxClientCount", 50);
  GetOrCreateSection(tree.root, "Empty");
  std::string text;
  WriteConfiguration(text, tree.root, 0);
  EXPECT_EQ(text, "OrvexaConfig {\n   Enable=true\n   MaxClientCount=50\n   }\n");
}

TEST(ConfigTree, StringSetterReplacesDoubleQuotes) {
  TreeHolder tree;
  StructValue* section = GetOrCreateSection(tree.root, "X");
  SetString(section, "K", "say \"hi\"");
  EXPECT_STREQ(GetString(section, "K", nullptr), "say 'hi'");
}

}  // namespace
}  // namespace orvexa
