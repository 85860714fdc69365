// The configuration lexer and parser: what valid texts build, the trace of reductions,
// the exact diagnostics with the echoed line and caret, and the inputs that must fail
// cleanly (too deep, lone minus, numbers that do not fit).
#include "config/config_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "config/config_access.h"

namespace orvexa {
namespace {

// Parses quietly, keeping the diagnostics (and the trace when asked) for inspection.
struct Parsed {
  ConfigValue* root = nullptr;
  std::string output;
  explicit Parsed(std::string_view text, bool trace = false) {
    ParseOptions options;
    options.trace = trace;
    options.capture = &output;
    root = ReadConfiguration(text, options);
  }
  ~Parsed() {
    if (root != nullptr) root->Release();
  }
  ConfigValue* Entry(const char* section, const char* key) {
    StructValue* s = GetSection(root, section);
    return s != nullptr ? s->Find(key) : nullptr;
  }
};

TEST(ConfigParserTest, SmallestFileAndItsTrace) {
  Parsed p("OrvexaConfig { Enable = true }", true);
  ASSERT_NE(p.root, nullptr);
  EXPECT_EQ(p.root->Kind(), ValueKind::Configuration);
  EXPECT_EQ(AsStruct(p.root)->Count(), 1u);
  EXPECT_TRUE(GetBool(GetSection(p.root, "OrvexaConfig"), "Enable", false));
  EXPECT_EQ(p.output,
            "Redukce D->CONST \t\n"
            "Redukce R->NAME = D \t\n"
            "Redukce P->R \t\n"
            "Redukce F->NAME { P } \t\n"
            "Redukce C->F \t\n"
            "Redukce S->C EOF \t\n");
}

TEST(ConfigParserTest, EveryRuleTracesItsOwnLine) {
  Parsed p(
      "X { A = struct { } B = array { } C = array { 1, struct { K = 1 }, array { 2 } } }\n"
      "Y { Z = 1 }",
      true);
  ASSERT_NE(p.root, nullptr);
  for (const char* line :
       {"Redukce D->PLUGIN { } \t\n", "Redukce D->ARRAY { } \t\n", "Redukce A->D , A \t\n",
        "Redukce A->D \t\n", "Redukce D->ARRAY { A } \t\n", "Redukce D->STRUCTURE { P } \t\n",
        "Redukce P->R P \t\n", "Redukce C->F C \t\n"})
    EXPECT_NE(p.output.find(line), std::string::npos) << line;
}

TEST(ConfigParserTest, ValuesOfEveryKind) {
  Parsed p(
      "X {\n"
      "  A = array { 1, 2.5, \"s\", false }\n"
      "  E = struct { }  F = array { }\n"
      "  K = -7  R = 3.25  D = 1.  N = -.5  Big = 2147483647  Small = -2147483648\n"
      "  a/b&c_1 = 1\n"
      "  S = \"two\nlines\"\n"
      "}");
  ASSERT_NE(p.root, nullptr) << p.output;
  auto* array = AsArray(p.Entry("X", "A"));
  ASSERT_NE(array, nullptr);
  ASSERT_EQ(array->Size(), 4u);
  EXPECT_EQ(static_cast<IntegerValue*>(array->At(0))->Get(), 1);
  EXPECT_EQ(array->At(1)->Kind(), ValueKind::Real);
  EXPECT_FLOAT_EQ(static_cast<RealValue*>(array->At(1))->Get(), 2.5f);
  EXPECT_STREQ(static_cast<StringValue*>(array->At(2))->Get(), "s");
  EXPECT_FALSE(static_cast<BooleanValue*>(array->At(3))->Get());
  EXPECT_EQ(p.Entry("X", "E")->Kind(), ValueKind::Struct);
  EXPECT_EQ(AsStruct(p.Entry("X", "E"))->Count(), 0u);
  EXPECT_EQ(AsArray(p.Entry("X", "F"))->Size(), 0u);
  StructValue* x = GetSection(p.root, "X");
  EXPECT_EQ(GetInt(x, "K", 0), -7);
  EXPECT_EQ(GetInt(x, "Big", 0), 2147483647);
  EXPECT_EQ(GetInt(x, "Small", 0), INT32_MIN);
  EXPECT_FLOAT_EQ(static_cast<RealValue*>(FindTyped(x, "R", ValueKind::Real))->Get(), 3.25f);
  EXPECT_FLOAT_EQ(static_cast<RealValue*>(FindTyped(x, "D", ValueKind::Real))->Get(), 1.0f);
  EXPECT_FLOAT_EQ(static_cast<RealValue*>(FindTyped(x, "N", ValueKind::Real))->Get(), -0.5f);
  EXPECT_EQ(GetInt(x, "a/b&c_1", 0), 1);
  EXPECT_STREQ(GetString(x, "S", ""), "two\nlines");
}

TEST(ConfigParserTest, LaterDuplicatesWinAndArraysKeepFileOrder) {
  Parsed p("X { K = 1 K = 2 L = array { 3, 4, 5 } }\nX { K = 9 M = 1 }\nY { K = 1 }");
  ASSERT_NE(p.root, nullptr);
  StructValue* x = GetSection(p.root, "X");
  EXPECT_EQ(GetInt(x, "K", 0), 9);
  EXPECT_EQ(x->Find("L"), nullptr) << "the earlier section X was dropped whole";
  Parsed q("X { K = 1 K = 2 L = array { 3, 4, 5 } }");
  StructValue* only = GetSection(q.root, "X");
  EXPECT_EQ(GetInt(only, "K", 0), 2);
  auto* list = AsArray(only->Find("L"));
  ASSERT_EQ(list->Size(), 3u);
  for (uint32_t i = 0; i < 3; ++i)
    EXPECT_EQ(static_cast<IntegerValue*>(list->At(i))->Get(), static_cast<int32_t>(i + 3));
}

TEST(ConfigParserTest, KeywordPrefixesSplitIdentifiers) {
  // trueColor lexes as true followed by the name Color: a syntax error after "=".
  Parsed p("X { A = trueColor }");
  EXPECT_EQ(p.root, nullptr);
  // arrayList as a key is ARRAY then NAME: also an error.
  Parsed q("X { arrayList = 1 }");
  EXPECT_EQ(q.root, nullptr);
  Parsed ok("X { Color = true }");
  EXPECT_NE(ok.root, nullptr);
}

TEST(ConfigParserTest, CommentsAndCarriageReturns) {
  Parsed p("// header\n// more\r\nX { A = 1 } // note\r\n// end");
  ASSERT_NE(p.root, nullptr) << p.output;
  EXPECT_EQ(GetInt(GetSection(p.root, "X"), "A", 0), 1);
  Parsed crlfString("X { S = \"a\r\nb\" }");
  EXPECT_STREQ(GetString(GetSection(crlfString.root, "X"), "S", ""), "a\nb");
}

TEST(ConfigParserTest, TextEndsAtTheFirstNul) {
  std::string text("X { A = 1 }\0garbage {", 21);
  Parsed p(text);
  ASSERT_NE(p.root, nullptr);
  EXPECT_EQ(AsStruct(p.root)->Count(), 1u);
  Parsed empty(std::string("\0X { A = 1 }", 12));
  EXPECT_EQ(empty.root, nullptr);
  EXPECT_EQ(empty.output, "");
}

TEST(ConfigParserTest, SyntaxErrorsNameTheLineAndPointAtTheToken) {
  struct Case {
    const char* text;
    const char* output;
  } cases[] = {
      {"X { }", "Syntax error at line:1\nX { }\n    ^\n"},
      {"X {\n  A = array { 1, }\n}",
       "Syntax error at line:2\n  A = array { 1, }\n"
       "                 ^\n"},
      {"X { \"K\" = 1 }", "Syntax error at line:1\nX { \"K\" = 1 }\n    ^\n"},
      {"  // only a comment\n\n", "Syntax error at line:3\n\n^\n"},
      {"X { A = 1 } Y", "Syntax error at line:1\nX { A = 1 } Y\n             ^\n"},
  };
  for (const Case& c : cases) {
    Parsed p(c.text);
    EXPECT_EQ(p.root, nullptr) << c.text;
    EXPECT_EQ(p.output, c.output) << c.text;
  }
}

TEST(ConfigParserTest, CaretColumnWrapsAtEighty) {
  std::string line = "X { A = 1" + std::string(85, ' ') + "= }";
  Parsed p(line);
  EXPECT_EQ(p.root, nullptr);
  size_t column = line.find("= }");
  EXPECT_EQ(p.output,
            "Syntax error at line:1\n" + line + "\n" + std::string(column % 80, ' ') + "^\n");
}

TEST(ConfigParserTest, LexicalErrors) {
  Parsed hash("X { A = 1 }\n# comment\n");
  EXPECT_EQ(hash.root, nullptr);
  EXPECT_EQ(hash.output, "\n\nUnknown symbol '#' found at line 2\n# comment\n^\n\n");
  Parsed open("X { A = \"never closed }\n");
  EXPECT_EQ(open.root, nullptr);
  EXPECT_EQ(open.output, "Unterminated string\n");
  Parsed empty("");
  EXPECT_EQ(empty.root, nullptr);
  EXPECT_EQ(empty.output, "");
}

TEST(ConfigParserTest, NumbersThatDoNotFitAreSyntaxErrors) {
  for (const char* text :
       {"X { A = - }", "X { A = -.}", "X { A = 2147483648 }", "X { A = -2147483649 }",
        "X { A = 99999999999999999999999 }", "X { A = 340282356779733661637539395458142568448.0 }",
        "X { A = array { 1, - } }"}) {
    Parsed p(text);
    EXPECT_EQ(p.root, nullptr) << text;
    EXPECT_EQ(p.output.rfind("Syntax error at line:1\n", 0), 0u) << text << "\n" << p.output;
  }
  // Too small for a float is zero, not an error.
  Parsed tiny("X { A = 0.0000000000000000000000000000000000000000000001 }");
  ASSERT_NE(tiny.root, nullptr);
  EXPECT_EQ(static_cast<RealValue*>(tiny.Entry("X", "A"))->Get(), 0.0f);
}

TEST(ConfigParserTest, StackLimitFailsCleanly) {
  // Each pending array element holds two stack entries; 6000 elements exceed 10,000.
  std::string longList = "X { A = array { ";
  for (int i = 0; i < 6000; ++i) longList += "1,";
  longList += "1 } }";
  Parsed p(longList);
  EXPECT_EQ(p.root, nullptr);
  EXPECT_EQ(p.output.rfind("Syntax error at line:1\n", 0), 0u);

  std::string deep = "X { A = ";
  for (int i = 0; i < 6000; ++i) deep += "array { ";
  deep += "1";
  for (int i = 0; i < 6000; ++i) deep += " }";
  deep += " }";
  Parsed d(deep);
  EXPECT_EQ(d.root, nullptr);

  // Just under the limit still parses.
  std::string fits = "X { A = array { ";
  for (int i = 0; i < 4000; ++i) fits += "1,";
  fits += "1 } }";
  Parsed f(fits);
  ASSERT_NE(f.root, nullptr);
  EXPECT_EQ(AsArray(f.Entry("X", "A"))->Size(), 4001u);
}

}  // namespace
}  // namespace orvexa
