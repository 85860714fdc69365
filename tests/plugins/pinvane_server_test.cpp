// The real server with Pinvane.ldp in its folder and a pseudo-terminal as the board: the
// plug-in's channels are listed, a client's write reaches the board as a frame, the
// board's input frame reaches the client, and shutdown stops the reader and keeps the
// port settings in orvexa.cfg. The board is unplugged and plugged in again on the way.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "client/protocol_client.h"
#include "pseudo_terminal.h"
#include "support/server_process.h"
#include "support/temp_dir.h"

namespace orvexa::test {
namespace {

using namespace std::chrono_literals;

TEST(PinvaneServerTest, ClientAndBoardExchangeValuesAcrossReplugging) {
  PseudoTerminal board;
  ASSERT_TRUE(board.Valid());
  TempDir dir;
  dir.CopyFromBuild("Pinvane.ldp");
  // The configuration names a link that the test re-points when it plugs in a new board.
  std::string link = dir.File("board");
  ASSERT_EQ(symlink(board.SlavePath().c_str(), link.c_str()), 0);
  dir.Write("orvexa.cfg",
            "OrvexaConfig {\n"
            "   PluginConfigs = array {\n"
            "      struct {\n"
            "         Path = \"Pinvane.ldp\"\n"
            "         port_index = 0\n"
            "         port_path = \"" +
                link +
                "\"\n"
                "      }\n"
                "   }\n"
                "}\n");
  ServerProcess server(dir.path(), {"/port", "0"});
  auto port = server.WaitForPort();
  ASSERT_TRUE(port.has_value()) << server.Stdout() << server.Stderr();
  ASSERT_TRUE(server.WaitForOutput(
      "Plug-in Pinvane.ldp: Arduino [Arduino_Input0, Arduino_Output0, Arduino_Output1]\n"))
      << server.Stdout();
  ASSERT_TRUE(server.WaitForOutput("Server running\n"));

  client::ProtocolClient client;
  client.Connect("127.0.0.1", *port, client::Transport::kTcp);
  ASSERT_EQ(client.Hello(1), 0);
  uint16_t output0 = client.FindChannel(4, "Arduino_Output0");
  uint16_t input0 = client.FindChannel(3, "Arduino_Input0");
  ASSERT_NE(output0, 0);
  ASSERT_NE(input0, 0);
  EXPECT_EQ(client.FindChannel(4, "Arduino_Input0"), 0) << "the input is not writable";

  client.WriteValue(output0, 2.5f);
  EXPECT_TRUE(board.WaitForFrame(0, 3));
  EXPECT_EQ(client.ReadValue(output0).first, 3.0f);
  board.SendFrame(0, 4321);
  EXPECT_TRUE(WaitUntil([&] { return client.ReadValue(input0).first == 4321.0f; }));

  // Unplugged and plugged in again: the reader notices the hang-up and reopens the port.
  PseudoTerminal replugged;
  ASSERT_TRUE(replugged.Valid());
  std::string fresh = dir.File("board.new");
  ASSERT_EQ(symlink(replugged.SlavePath().c_str(), fresh.c_str()), 0);
  ASSERT_EQ(rename(fresh.c_str(), link.c_str()), 0);
  board.Close();
  EXPECT_TRUE(replugged.WaitForFrame(0, 3));
  client.WriteValue(output0, 17.0f);
  EXPECT_TRUE(replugged.WaitForFrame(0, 17));
  replugged.SendFrame(0, 99);
  EXPECT_TRUE(WaitUntil([&] { return client.ReadValue(input0).first == 99.0f; }));
  client.Close();

  auto stopped = std::chrono::steady_clock::now();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitForExit(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 5s);
  std::string saved = dir.Read("orvexa.cfg");
  EXPECT_NE(saved.find("port_index=0"), std::string::npos) << saved;
  EXPECT_NE(saved.find("port_path=\"" + link + "\""), std::string::npos) << saved;
  EXPECT_EQ(server.Stderr().find("Error opening port"), std::string::npos) << server.Stderr();
}

TEST(PinvaneServerTest, AFirstStartStoresNoPortAndOpensNothing) {
  TempDir dir;
  dir.CopyFromBuild("Pinvane.ldp");
  ServerProcess server(dir.path(), {"/port", "0"});
  ASSERT_TRUE(server.WaitForOutput("Server running\n")) << server.Stdout() << server.Stderr();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.WaitForExit(), 0);
  std::string saved = dir.Read("orvexa.cfg");
  EXPECT_NE(saved.find("Path=\"Pinvane.ldp\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("port_index=0"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("port_path"), std::string::npos) << saved;
  EXPECT_EQ(server.Stderr().find("Error opening port"), std::string::npos);
}

}  // namespace
}  // namespace orvexa::test
