// The command-line record: option matching, values, the help flag, and how the second
// pass merges options over the settings read from the file.
#include "app/server_command_line.h"

#include <gtest/gtest.h>

#include "app/server_settings.h"
#include "config/config_access.h"
#include "config/config_parser.h"

namespace orvexa {
namespace {

ServerCommandLine Parsed(std::vector<std::string> args) {
  ServerCommandLine record;
  record.Parse(args);
  return record;
}

TEST(ServerCommandLineTest, DefaultsAndValues) {
  ServerCommandLine record = Parsed({});
  EXPECT_FALSE(record.help);
  EXPECT_EQ(record.port, 8899);
  EXPECT_EQ(record.conexp, 60);
  EXPECT_EQ(record.maxusage, 0);
  EXPECT_EQ(record.maxclient, 50);
  EXPECT_TRUE(record.limitcontrol && record.disablelisting && record.enable);

  record = Parsed({"-port", "9000", "/conexp", "15", "/maxusage", "90", "/maxclient", "3",
                   "/preset", "night", "/config", "-headless"});
  EXPECT_FALSE(record.help);
  EXPECT_EQ(record.port, 9000);
  EXPECT_EQ(record.conexp, 15);
  EXPECT_EQ(record.maxusage, 90);
  EXPECT_EQ(record.maxclient, 3);
  EXPECT_EQ(record.preset, "night");
  EXPECT_TRUE(record.defaultConfiguration);
  EXPECT_TRUE(record.headless);
}

TEST(ServerCommandLineTest, HelpCases) {
  EXPECT_TRUE(Parsed({"/Port", "9000"}).help) << "options are case-sensitive";
  EXPECT_TRUE(Parsed({"/port", "9000", "extra"}).help) << "stray argument";
  EXPECT_TRUE(Parsed({"stray"}).help);
  EXPECT_TRUE(Parsed({"/"}).help);
  EXPECT_TRUE(Parsed({"--port", "1"}).help);
  EXPECT_TRUE(Parsed({"/port", "-5"}).help) << "-5 reads as an option";
  EXPECT_FALSE(Parsed({"/port"}).help);
  EXPECT_EQ(Parsed({"/port"}).port, 8899) << "value missing at the end";
  ServerCommandLine dropped = Parsed({"/port", "/enable", "1234"});
  EXPECT_TRUE(dropped.help) << "an option clears the pending value";
  EXPECT_EQ(dropped.port, 8899);
}

TEST(ServerCommandLineTest, LastSwitchWins) {
  EXPECT_FALSE(Parsed({"/enable", "/disable"}).enable);
  EXPECT_TRUE(Parsed({"/disable", "/enable"}).enable);
}

TEST(ServerCommandLineTest, NumbersConvertLikeAtoiWithoutWrapping) {
  EXPECT_EQ(OptionNumber("  42abc"), 42);
  EXPECT_EQ(OptionNumber("+7"), 7);
  EXPECT_EQ(OptionNumber("-12"), -12);
  EXPECT_EQ(OptionNumber("abc"), 0);
  EXPECT_EQ(OptionNumber(""), 0);
  EXPECT_EQ(OptionNumber("99999999999999999999"), INT32_MAX);
  EXPECT_EQ(OptionNumber("-99999999999999999999"), INT32_MIN);
  EXPECT_EQ(OptionNumber("-2147483648"), INT32_MIN);
}

TEST(ServerCommandLineTest, HelpLinesInWindowOrder) {
  const auto& lines = ServerCommandLine::HelpLines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines.front(), "/config...Default configuration");
  EXPECT_EQ(lines[3], "/conexp value ... conection expiration delay");
  EXPECT_EQ(lines.back(), "/maxclient num .... max client count");
}

// Settings from a file section, as start-up reads them.
ServerSettings FromFile(const char* text) {
  ParseOptions quiet;
  quiet.trace = false;
  ConfigValue* root = ReadConfiguration(text, quiet);
  EXPECT_NE(root, nullptr) << text;
  ServerSettings settings;
  settings.LoadFrom(GetSection(root, "OrvexaConfig"));
  if (root) root->Release();
  return settings;
}

TEST(ServerSettingsTest, MissingKeysAndMissingFileDefaultsDiffer) {
  ServerSettings file = FromFile("OrvexaConfig { Enable = true }");
  EXPECT_FALSE(file.LimitUsage);
  EXPECT_FALSE(file.LimitMultipleControl);
  EXPECT_EQ(file.MaxUsageTime, 1200);
  ServerSettings fresh = ServerSettings::ForMissingFile();
  EXPECT_TRUE(fresh.LimitUsage);
  EXPECT_TRUE(fresh.LimitMultipleControl);
  EXPECT_EQ(fresh.MaxClientCount, 50);
}

TEST(ServerSettingsTest, DiskBoundsLoadStoreAndDefaults) {
  ServerSettings missing = FromFile("OrvexaConfig { Enable = true }");
  EXPECT_EQ(missing.AuditLogMaxSize, 64 * 1024 * 1024);
  EXPECT_EQ(missing.AuditLogFiles, 8);
  EXPECT_EQ(missing.MaxLogCopies, 0);
  ServerSettings set =
      FromFile("OrvexaConfig { AuditLogMaxSize = 1000 AuditLogFiles = 3 MaxLogCopies = 5 }");
  EXPECT_EQ(set.AuditLogMaxSize, 1000);
  EXPECT_EQ(set.AuditLogFiles, 3);
  EXPECT_EQ(set.MaxLogCopies, 5);
  // Out of range: no negative sizes or counts; at least one old audit file, at most 1000.
  ServerSettings odd =
      FromFile("OrvexaConfig { AuditLogMaxSize = -1 AuditLogFiles = 0 MaxLogCopies = -2 }");
  EXPECT_EQ(odd.AuditLogMaxSize, 0);
  EXPECT_EQ(odd.AuditLogFiles, 1);
  EXPECT_EQ(odd.MaxLogCopies, 0);
  EXPECT_EQ(FromFile("OrvexaConfig { AuditLogFiles = 5000 }").AuditLogFiles, 1000);
  // Stored and read back unchanged.
  ParseOptions quiet;
  quiet.trace = false;
  ConfigValue* root = ReadConfiguration("OrvexaConfig { Enable = true }", quiet);
  ASSERT_NE(root, nullptr);
  StructValue* section = GetSection(root, "OrvexaConfig");
  set.StoreInto(section);
  EXPECT_EQ(GetInt(section, "AuditLogMaxSize", 0), 1000);
  EXPECT_EQ(GetInt(section, "AuditLogFiles", 0), 3);
  EXPECT_EQ(GetInt(section, "MaxLogCopies", 0), 5);
  ServerSettings back;
  back.LoadFrom(section);
  EXPECT_EQ(back.AuditLogMaxSize, 1000);
  EXPECT_EQ(back.MaxLogCopies, 5);
  root->Release();
  // The opening bounds: defaults, at least 1 (0 would refuse everybody), stored.
  EXPECT_EQ(missing.OpeningTimeout, 10);
  EXPECT_EQ(missing.MaxOpeningPerAddress, 8);
  ServerSettings zero = FromFile("OrvexaConfig { OpeningTimeout = 0 MaxOpeningPerAddress = -3 }");
  EXPECT_EQ(zero.OpeningTimeout, 1);
  EXPECT_EQ(zero.MaxOpeningPerAddress, 1);
  ServerSettings opening = FromFile("OrvexaConfig { OpeningTimeout = 3 MaxOpeningPerAddress = 2 }");
  root = ReadConfiguration("OrvexaConfig { Enable = true }", quiet);
  ASSERT_NE(root, nullptr);
  opening.StoreInto(GetSection(root, "OrvexaConfig"));
  EXPECT_EQ(GetInt(GetSection(root, "OrvexaConfig"), "OpeningTimeout", 0), 3);
  EXPECT_EQ(GetInt(GetSection(root, "OrvexaConfig"), "MaxOpeningPerAddress", 0), 2);
  root->Release();
  // The token clock skew is never negative; the listen address is read as written.
  ServerSettings auth = FromFile("OrvexaConfig { AuthLeeway = -4 ListenAddress = \"127.0.0.1\" }");
  EXPECT_EQ(auth.AuthLeeway, 0);
  EXPECT_EQ(auth.ListenAddress, "127.0.0.1");
}

TEST(ServerSettingsTest, WrongKindsGiveDefaultsAndNegativeControlPortIsZero) {
  ServerSettings s = FromFile(
      "OrvexaConfig { MaxClientCount = \"50x\" Enable = 0 ControlPort = -5 "
      "ControlInterface = \"10.0.0.1\" ReservationsServer = 3 }");
  EXPECT_EQ(s.MaxClientCount, 50);
  EXPECT_TRUE(s.Enable);
  EXPECT_EQ(s.ControlPort, 0);
  EXPECT_EQ(s.ControlInterface, "10.0.0.1");
  EXPECT_EQ(s.ReservationsServer, "localhost");
}

TEST(ServerSettingsTest, StoreReplacesEntriesOfAnotherKind) {
  ParseOptions quiet;
  quiet.trace = false;
  ConfigValue* root = ReadConfiguration("OrvexaConfig { Enable = \"yes\" Extra = 1 }", quiet);
  ASSERT_NE(root, nullptr);
  StructValue* section = GetSection(root, "OrvexaConfig");
  ServerSettings settings;
  settings.Enable = false;
  settings.StoreInto(section);
  EXPECT_EQ(section->Count(), 27u);
  EXPECT_EQ(FindTyped(section, "Enable", ValueKind::Boolean) != nullptr, true);
  EXPECT_FALSE(GetBool(section, "Enable", true));
  EXPECT_EQ(GetInt(section, "Extra", 0), 1);
  root->Release();
}

}  // namespace
}  // namespace orvexa
