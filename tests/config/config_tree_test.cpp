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

TEST(ConfigTreeTest, StructKeepsFirstValueAndSortsByteWise) {
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

TEST(ConfigTreeTest, GettersNeverConvertKinds) {
  TreeHolder tree;
  StructValue* section = GetOrCreateSection(tree.root, "OrvexaConfig");
  SetString(section, "MaxClientCount", "50x");
  EXPECT_EQ(GetInt(section, "MaxClientCount", 50), 50);
  SetInt(section, "MaxClientCount", 7);  // replaces the string entry
  EXPECT_EQ(GetInt(section, "MaxClientCount", 50), 7);
  EXPECT_FALSE(GetBool(section, "MaxClientCount", false));
}

TEST(ConfigWriterTest, WritesSortedEntriesAndSkipsEmptySections) {
  TreeHolder tree;
  StructValue* section = GetOrCreateSection(tree.root, "OrvexaConfig");
  SetBool(section, "Enable", true);
  SetInt(section, "MaxClientCount", 50);
  GetOrCreateSection(tree.root, "Empty");
  std::string text;
  WriteConfiguration(text, tree.root, 0);
  EXPECT_EQ(text, "OrvexaConfig {\n   Enable=true\n   MaxClientCount=50\n   }\n");
}

TEST(ConfigTreeTest, StringSetterReplacesDoubleQuotes) {
  TreeHolder tree;
  StructValue* section = GetOrCreateSection(tree.root, "X");
  SetString(section, "K", "say \"hi\"");
  EXPECT_STREQ(GetString(section, "K", nullptr), "say 'hi'");
}

TEST(ConfigTreeTest, SettersOverwriteInPlaceAndSharedNodesLiveOn) {
  TreeHolder tree;
  StructValue* a = GetOrCreateSection(tree.root, "A");
  StructValue* b = GetOrCreateSection(tree.root, "B");
  SetInt(a, "Port", 1);
  ConfigValue* before = a->Find("Port");
  SetInt(a, "Port", 2);
  EXPECT_EQ(a->Find("Port"), before) << "same node, new value";
  EXPECT_EQ(GetInt(a, "Port", 0), 2);
  // One node held by two containers survives the removal from one of them.
  b->Add("Shared", before);
  a->Remove("Port");
  ASSERT_EQ(b->Find("Shared"), before);
  EXPECT_EQ(static_cast<IntegerValue*>(before)->Get(), 2);
  EXPECT_EQ(GetSection(tree.root, "Missing"), nullptr);
  SetInt(tree.root, "Scalar", 1);
  EXPECT_EQ(GetSection(tree.root, "Scalar"), nullptr) << "not a struct";
  EXPECT_EQ(GetOrCreateSection(tree.root, "Scalar"), nullptr);
  EXPECT_EQ(GetSection(a, "A"), nullptr) << "a struct is not a root";
  StructValue* inner = GetOrCreateSection(a, "Inner");
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(GetOrCreateSection(a, "Inner"), inner) << "found again, not refused";
}

TEST(ConfigTreeTest, ArrayEndsAndErase) {
  TreeHolder tree;
  auto* list = static_cast<ArrayValue*>(tree.root->CreateValue(ValueKind::Array));
  list->AddRef();
  for (int i = 0; i < 3; ++i) {
    ConfigValue* n = list->CreateValue(ValueKind::Integer);
    static_cast<IntegerValue*>(n)->Set(i);
    if (i == 0)
      list->Append(n);
    else
      list->Prepend(n);
  }
  ASSERT_EQ(list->Size(), 3u);
  EXPECT_EQ(static_cast<IntegerValue*>(list->At(0))->Get(), 2);
  EXPECT_EQ(static_cast<IntegerValue*>(list->At(2))->Get(), 0);
  list->Erase(3);  // beyond the end: nothing
  EXPECT_EQ(list->Size(), 3u);
  list->Erase(1);
  EXPECT_EQ(static_cast<IntegerValue*>(list->At(1))->Get(), 0);
  list->Clear();
  EXPECT_EQ(list->Size(), 0u);
  list->Release();
}

// Plug-ins call the node operations directly; their mistakes must not crash the server.
TEST(ConfigTreeTest, PluginMistakesAreHarmless) {
  TreeHolder tree;
  StructValue* section = GetOrCreateSection(tree.root, "S");
  EXPECT_EQ(section->Find(nullptr), nullptr);
  section->Remove(nullptr);
  section->Add(nullptr, section->CreateValue(ValueKind::Integer));  // released, not stored
  EXPECT_EQ(section->Count(), 0u);
  section->Add("x", nullptr);
  EXPECT_EQ(section->Count(), 0u);
  section->RemoveAt(5);
  EXPECT_EQ(section->CreateValue(ValueKind::Pair), nullptr);
  EXPECT_EQ(section->CreateValue(static_cast<ValueKind>(9)), nullptr);
  auto* list = static_cast<ArrayValue*>(section->CreateValue(ValueKind::Array));
  section->Add("L", list);
  EXPECT_EQ(list->At(0), nullptr);
  EXPECT_EQ(list->At(1000), nullptr);
  ConfigValue* text = section->CreateValue(ValueKind::String);
  section->Add("T", text);
  static_cast<StringValue*>(text)->Exchange(nullptr, true);
  static_cast<StringValue*>(text)->Set(nullptr);
  EXPECT_STREQ(static_cast<StringValue*>(text)->Get(), "");
  const char* loaded = nullptr;
  static_cast<StringValue*>(text)->Exchange(&loaded, false);
  EXPECT_STREQ(loaded, "");
  ConfigValue* number = section->CreateValue(ValueKind::Integer);
  section->Add("N", number);
  static_cast<IntegerValue*>(number)->Exchange(nullptr, false);
  int32_t value = 41;
  static_cast<IntegerValue*>(number)->Exchange(&value, true);
  EXPECT_EQ(GetInt(section, "N", 0), 41);
}

}  // namespace
}  // namespace orvexa
