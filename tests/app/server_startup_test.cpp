// The real server binary in a folder of its own: help, invalid configuration files,
// the settings saved at shutdown and the audit lines of a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/server_process.h"
#include "support/temp_dir.h"

namespace orvexa::test {
namespace {

std::string HelpText() {
  return "/config...Default configuration\n"
         "/port num..Use port\n"
         "/preset name..Configuration preset selection\n"
         "/conexp value ... conection expiration delay\n"
         "/maxusage value ... maximal usage time limit\n"
         "/limitcontrol ... disable simultaneous access\n"
         "/disablelisting ... disable device listing\n"
         "/disable ... disable server\n"
         "/enable ... enable server\n"
         "/maxclient num .... max client count\n";
}

// Starts the server, waits until it runs, stops it with `signal` and returns the saved
// orvexa.cfg.
std::string RunAndStop(const TempDir& dir, std::vector<std::string> args, int signal = SIGTERM,
                       int* status = nullptr) {
  args.insert(args.begin(), {"/port", "0"});
  ServerProcess server(dir.path(), args);
  EXPECT_TRUE(server.WaitForOutput("Server running\n")) << server.Stdout() << server.Stderr();
  server.Signal(signal);
  auto exit = server.WaitForExit();
  EXPECT_TRUE(exit.has_value());
  if (status != nullptr) *status = exit.value_or(-1);
  return dir.Read("orvexa.cfg");
}

TEST(ServerStartupTest, HelpForWrongCaseOptionAndStrayArgument) {
  TempDir dir;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"/Port", "9000"}, {"/port", "9000", "extra"}, {"-nosuchoption"}, {"stray"}}) {
    CompletedRun run = RunServerToEnd(dir.path(), args);
    EXPECT_NE(run.status, 0) << args[0];
    EXPECT_EQ(run.out, HelpText()) << args[0];
    EXPECT_FALSE(dir.Exists("orvexa.cfg")) << "an early exit saves nothing";
    EXPECT_FALSE(dir.Exists("users.log"));
  }
}

TEST(ServerStartupTest, InvalidFilesAreRefusedAndKept) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"empty", ""},
      {"lexical", "X { A = #1 }\n"},
      {"unterminated", "X { A = \"open }\n"},
      {"syntax", "X { }\n"},
      {"random", std::string("\x01\xff\x7fZ{\0\x13", 7)},
  };
  for (const auto& [name, content] : files) {
    TempDir dir;
    dir.Write("orvexa.cfg", content);
    CompletedRun run = RunServerToEnd(dir.path(), {"/port", "0"});
    EXPECT_NE(run.status, 0) << name;
    EXPECT_EQ(run.err, "Error: Config file invalid.\n") << name;
    EXPECT_EQ(run.out.find("Server running"), std::string::npos) << name;
    EXPECT_EQ(dir.Read("orvexa.cfg"), content) << name << ": left as it was";
    EXPECT_FALSE(dir.Exists("users.log")) << name;
  }
}

TEST(ServerStartupTest, EveryCorruptFixtureIsRefused) {
  const std::filesystem::path folder =
      std::filesystem::path(ORVEXA_SOURCE_DIR) / "tests/config/fixtures";
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("valid_", 0) == 0) continue;
    TempDir dir;
    std::filesystem::copy_file(entry.path(), dir.File("orvexa.cfg"));
    CompletedRun run = RunServerToEnd(dir.path(), {"/port", "0"});
    EXPECT_NE(run.status, 0) << name;
    EXPECT_EQ(run.err, "Error: Config file invalid.\n") << name;
  }
}

// A configuration that exists but cannot be read must not be replaced by the defaults at
// shutdown: it is refused like an invalid one.
TEST(ServerStartupTest, UnreadableFileIsRefusedNotReplaced) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.File("orvexa.cfg").c_str(), 0755), 0);
  CompletedRun run = RunServerToEnd(dir.path(), {"/port", "0"});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.err, "Error: Config file invalid.\n");
  struct stat st {};
  ASSERT_EQ(::stat(dir.File("orvexa.cfg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(ServerStartupTest, NoFileWritesFreshDefaultsAtShutdown) {
  TempDir dir;
  int status = -1;
  std::string saved = RunAndStop(dir, {}, SIGTERM, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(saved,
            "OrvexaConfig {\n"
            "   AllowAnonymousObservers=false\n"
            "   AuditLogFiles=8\n"
            "   AuditLogMaxSize=67108864\n"
            "   AuthKeyFile=\"\"\n"
            "   AuthLeeway=30\n"
            "   Authenticate=false\n"
            "   BrokerPasswordFile=\"\"\n"
            "   BrokerUrl=\"\"\n"
            "   BrokerUser=\"\"\n"
            "   ConectionExpirationDelay=60\n"
            "   ControlInterface=\"127.0.0.1\"\n"
            "   ControlPort=5555\n"
            "   DisableDeviceListing=false\n"
            "   Enable=true\n"
            "   LabId=\"\"\n"
            "   LimitMultipleControl=true\n"
            "   LimitUsage=true\n"
            "   ListenAddress=\"0.0.0.0\"\n"
            "   MaxClientCount=50\n"
            "   MaxLogCopies=0\n"
            "   MaxOpeningPerAddress=8\n"
            "   MaxUsageTime=1200\n"
            "   OpeningTimeout=10\n"
            "   PublishValueRate=2\n"
            "   ReservationsQueryPage=\"/reservations.php\"\n"
            "   ReservationsServer=\"localhost\"\n"
            "   }\n");
  std::string log = dir.Read("users.log");
  EXPECT_NE(log.find(") Server started\n"), std::string::npos) << log;
  EXPECT_NE(log.find(") Server stoped\n"), std::string::npos) << log;
  EXPECT_LT(log.find("Server started"), log.find("Server stoped"));
  EXPECT_EQ(log.find(") Server started\n"), log.find(") "));
  EXPECT_EQ(log.front(), '(');
}

TEST(ServerStartupTest, InterruptAlsoShutsDownInOrder) {
  TempDir dir;
  int status = -1;
  std::string saved = RunAndStop(dir, {"/disable"}, SIGINT, &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(saved.find("   Enable=false\n"), std::string::npos) << saved;
}

TEST(ServerStartupTest, FileKeysMissingUseTheirOwnDefaultsAndUnknownSectionsStay) {
  TempDir dir;
  dir.Write("orvexa.cfg",
            "// written by hand\n"
            "OrvexaConfig { Enable = true ControlPort = -5 }\n"
            "Zeta { Colors = array { 1, 2.5, \"s\" } Inner = struct { } }\n");
  std::string saved = RunAndStop(dir, {});
  EXPECT_NE(saved.find("   LimitUsage=false\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("   LimitMultipleControl=false\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("   ControlPort=0\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Zeta {\n   Colors=array {\n      1,2.500000,\"s\"}\n      \n"
                       "   Inner=struct {\n      }\n      \n   }\n"),
            std::string::npos)
      << saved;
}

TEST(ServerStartupTest, ConfigOptionIgnoresAndOverwritesTheFile) {
  TempDir dir;
  dir.Write("orvexa.cfg",
            "OrvexaConfig { MaxClientCount = 7 LimitUsage = false }\nOther { K = 1 }\n");
  std::string saved = RunAndStop(dir, {"/config"});
  EXPECT_NE(saved.find("   MaxClientCount=50\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("   LimitUsage=true\n"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("Other"), std::string::npos) << saved;
}

TEST(ServerStartupTest, OptionsOverrideTheFile) {
  TempDir dir;
  dir.Write("orvexa.cfg",
            "OrvexaConfig { Enable = true LimitUsage = false MaxUsageTime = 300 "
            "ConectionExpirationDelay = 10 }\n");
  std::string saved =
      RunAndStop(dir, {"/maxusage", "90", "/enable", "/disable", "/conexp", "33", "/maxclient", "4",
                       "/limitcontrol", "/disablelisting", "/preset", "night"});
  EXPECT_NE(saved.find("   LimitUsage=true\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("   MaxUsageTime=90\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("   Enable=false\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("   ConectionExpirationDelay=33\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("   MaxClientCount=4\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("   LimitMultipleControl=true\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("   DisableDeviceListing=true\n"), std::string::npos) << saved;
}

TEST(ServerStartupTest, ZeroUsageOptionKeepsTheFilesLimit) {
  TempDir dir;
  dir.Write("orvexa.cfg", "OrvexaConfig { LimitUsage = true MaxUsageTime = 300 }\n");
  std::string saved = RunAndStop(dir, {"/maxusage", "0"});
  EXPECT_NE(saved.find("   LimitUsage=true\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("   MaxUsageTime=300\n"), std::string::npos) << saved;
}

TEST(ServerStartupTest, ParserTraceOnStandardOutputAndDebugChannel) {
  TempDir dir;
  dir.Write("orvexa.cfg", "OrvexaConfig { Enable = true }\n");
  {
    ServerProcess server(dir.path(), {"/port", "0"});
    ASSERT_TRUE(server.WaitForOutput("Server running\n"));
    std::string out = server.Stdout();
    EXPECT_EQ(out.rfind("Redukce D->CONST \t\n", 0), 0u) << out;
    EXPECT_LT(out.find("Redukce S->C EOF \t\n"), out.find("Server running"));
    EXPECT_EQ(server.Stderr().find("Redukce"), std::string::npos);
    server.Signal(SIGTERM);
    EXPECT_EQ(server.WaitForExit(), 0);
  }
  ServerProcess debug(dir.path(), {"/port", "0"}, {"ORVEXA_DEBUG=1"});
  ASSERT_TRUE(debug.WaitForOutput("Server running\n"));
  EXPECT_NE(debug.Stderr().find("Redukce S->C EOF \t\n"), std::string::npos);
  debug.Signal(SIGTERM);
  EXPECT_EQ(debug.WaitForExit(), 0);
}

TEST(ServerStartupTest, RunsWithoutAuditLinesWhenTheLogCannotBeOpened) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.File("users.log").c_str(), 0755), 0);
  int status = -1;
  std::string saved = RunAndStop(dir, {}, SIGTERM, &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(saved.find("OrvexaConfig {"), std::string::npos);
}

TEST(ServerStartupTest, AuditLinesAreAppended) {
  TempDir dir;
  dir.Write("users.log", "(1.1.2026 at 0:0:0) Server started\n");
  RunAndStop(dir, {});
  std::string log = dir.Read("users.log");
  EXPECT_EQ(log.rfind("(1.1.2026 at 0:0:0) Server started\n(", 0), 0u) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3);
}

TEST(ServerStartupTest, FileWithoutServerSectionIsNeverSaved) {
  TempDir dir;
  const std::string content = "Other { K = 1 }\n";
  dir.Write("orvexa.cfg", content);
  RunAndStop(dir, {});
  EXPECT_EQ(dir.Read("orvexa.cfg"), content);
}

}  // namespace
}  // namespace orvexa::test
