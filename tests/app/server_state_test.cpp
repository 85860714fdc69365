// The main window object: its defaults before start-up, and the configuration save that
// the logging work calls while the server runs.
#include "app/server_state.h"

#include <gtest/gtest.h>

#include "config/config_access.h"
#include "support/temp_dir.h"

namespace orvexa {
namespace {

TEST(ServerStateTest, StartsWithTheDefaultPortAndPresetAndNotRunning) {
  ServerState server;
  EXPECT_EQ(server.listenPort, 8899);
  EXPECT_EQ(server.presetName, "default");
  EXPECT_FALSE(server.serverRunning.load());
}

TEST(ServerStateTest, SaveConfigurationWritesTheTreeAsItIs) {
  test::TempDir dir;
  ServerState server;
  server.config.SetStartDirectory(dir.path());
  EXPECT_FALSE(server.SaveConfiguration()) << "no tree yet";
  server.config.StartEmpty();
  StructValue* logging = GetOrCreateSection(server.config.Root(), "OrvexaConfig");
  SetBool(logging, "Enable", false);
  EXPECT_TRUE(server.SaveConfiguration());
  EXPECT_EQ(dir.Read("orvexa.cfg"), "OrvexaConfig {\n   Enable=false\n   }\n");
}

}  // namespace
}  // namespace orvexa
