// The writer's exact format, the values it must leave out so that the file always loads
// again, and the round trip through the parser.
#include "config/config_writer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "config/config_access.h"
#include "config/config_parser.h"
#include "config/node_base.h"

namespace orvexa {
namespace {

struct Tree {
  ConfigValue* root = NewConfigValue(ValueKind::Configuration);
  Tree() { root->AddRef(); }
  ~Tree() { root->Release(); }
  std::string Text() const {
    std::string out;
    WriteConfiguration(out, root, 0);
    return out;
  }
};

ConfigValue* Real(ConfigValue* any, float value) {
  ConfigValue* node = any->CreateValue(ValueKind::Real);
  static_cast<RealValue*>(node)->Set(value);
  return node;
}

ConfigValue* Parse(const std::string& text) {
  ParseOptions quiet;
  quiet.trace = false;
  quiet.diagnostics = false;
  return ReadConfiguration(text, quiet);
}

TEST(ConfigWriterTest, NestedStructAndArrayLayout) {
  Tree tree;
  StructValue* section = GetOrCreateSection(tree.root, "S");
  auto* inner = static_cast<StructValue*>(section->CreateValue(ValueKind::Struct));
  SetInt(inner, "B", 2);
  section->Add("N", inner);
  auto* list = static_cast<ArrayValue*>(section->CreateValue(ValueKind::Array));
  ConfigValue* one = section->CreateValue(ValueKind::Integer);
  static_cast<IntegerValue*>(one)->Set(1);
  list->Append(one);
  list->Append(Real(section, 2.25f));
  section->Add("L", list);
  section->Add("E", section->CreateValue(ValueKind::Array));
  EXPECT_EQ(tree.Text(),
            "S {\n"
            "   E=array {\n"
            "      }\n"
            "      \n"
            "   L=array {\n"
            "      1,2.250000}\n"
            "      \n"
            "   N=struct {\n"
            "      B=2\n"
            "      }\n"
            "      \n"
            "   }\n");
  ConfigValue* back = Parse(tree.Text());
  ASSERT_NE(back, nullptr);
  std::string again;
  WriteConfiguration(again, back, 0);
  EXPECT_EQ(again, tree.Text());
  back->Release();
}

TEST(ConfigWriterTest, RealsAreFixedSixDecimals) {
  Tree tree;
  StructValue* s = GetOrCreateSection(tree.root, "S");
  s->Add("A", Real(s, 2.25f));
  s->Add("B", Real(s, 1e-7f));
  s->Add("C", Real(s, -0.5f));
  s->Add("D", Real(s, std::numeric_limits<float>::max()));
  SetInt(s, "I", 7);
  EXPECT_EQ(tree.Text(),
            "S {\n   A=2.250000\n   B=0.000000\n   C=-0.500000\n"
            "   D=340282346638528859811704183484516925440.000000\n   I=7\n   }\n");
}

TEST(ConfigWriterTest, NonFiniteRealsStillLoad) {
  Tree tree;
  StructValue* s = GetOrCreateSection(tree.root, "S");
  s->Add("Nan", Real(s, std::nanf("")));
  s->Add("Inf", Real(s, -std::numeric_limits<float>::infinity()));
  ConfigValue* back = Parse(tree.Text());
  ASSERT_NE(back, nullptr) << tree.Text();
  auto* inf = static_cast<RealValue*>(FindTyped(GetSection(back, "S"), "Inf", ValueKind::Real));
  EXPECT_EQ(inf->Get(), -std::numeric_limits<float>::max());
  back->Release();
}

TEST(ConfigWriterTest, DecimalPointDoesNotFollowTheLocale) {
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
      std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") == nullptr)
    GTEST_SKIP() << "no locale with a decimal comma installed";
  Tree tree;
  StructValue* s = GetOrCreateSection(tree.root, "S");
  s->Add("A", Real(s, 2.5f));
  std::string text = tree.Text();
  ConfigValue* back = Parse(text);
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(text, "S {\n   A=2.500000\n   }\n");
  ASSERT_NE(back, nullptr);
  back->Release();
}

TEST(ConfigWriterTest, LeavesOutWhatCannotBeReadBack) {
  Tree tree;
  StructValue* good = GetOrCreateSection(tree.root, "Good");
  SetInt(good, "Key", 1);
  // Names a plug-in or a channel ID could bring, which the lexer cannot read as a name.
  for (const char* bad : {"", "1st", "two words", "trueValue", "arrayX", "structure", "falsey",
                          "x=y", "dash-name", "\xc3\xa9t\xc3\xa9"})
    SetInt(good, bad, 2);
  GetOrCreateSection(tree.root, "Empty");
  SetInt(GetOrCreateSection(tree.root, "9Bad"), "K", 1);
  StructValue* onlyBad = GetOrCreateSection(tree.root, "OnlyBad");
  SetInt(onlyBad, "bad name", 1);
  SetInt(tree.root, "NotAStruct", 5);
  // A root node stored inside a section has no written form either.
  good->Add("Nested", good->CreateValue(ValueKind::Configuration));
  EXPECT_EQ(tree.Text(), "Good {\n   Key=1\n   }\n");
}

TEST(ConfigWriterTest, ValidNamesPass) {
  for (const char* name : {"A", "a/b&c_1", "Truth", "tru", "Array", "structs_"})
    EXPECT_EQ(IsWritableConfigName(name), std::string(name) != "structs_") << name;
}

TEST(ConfigWriterTest, GeneratedTreeRoundTrips) {
  Tree tree;
  for (int s = 0; s < 5; ++s) {
    StructValue* section = GetOrCreateSection(tree.root, ("Section" + std::to_string(s)).c_str());
    for (int k = 0; k < 20; ++k) {
      std::string key = "Key" + std::to_string(k);
      switch (k % 4) {
        case 0:
          SetInt(section, key.c_str(), k * 1000 - 7);
          break;
        case 1:
          section->Add(key.c_str(), Real(section, k / 8.0f));
          break;
        case 2:
          // A CR before an LF survives the reader's text-mode CR LF -> LF.
          SetString(section, key.c_str(), ("text " + key + "\nline\r\nend\r\r\n").c_str());
          break;
        case 3:
          SetBool(section, key.c_str(), k % 8 == 3);
          break;
      }
    }
  }
  std::string text = tree.Text();
  ConfigValue* back = Parse(text);
  ASSERT_NE(back, nullptr);
  std::string again;
  WriteConfiguration(again, back, 0);
  EXPECT_EQ(again, text);
  EXPECT_STREQ(GetString(GetSection(back, "Section3"), "Key2", ""),
               "text Key2\nline\r\nend\r\r\n");
  back->Release();
}

}  // namespace
}  // namespace orvexa
