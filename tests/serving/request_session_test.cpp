// The opening exchange and the request loop over an in-memory connection, with the
// Probe test device in a real registry: client kinds and forwarded addresses, the find
// rules, reads and writes under the control rules, batching and the codes that end a
// connection.
#include "protocol/request_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "base/server_lock.h"
#include "host/plugin_discovery.h"
#include "sessions/user_table.h"
#include "transport/connection_closed.h"
#include "transport/memory_connection.h"
#include "transport/socket_stream.h"

namespace orvexa {
namespace {

std::string U16(uint16_t v) {
  return {static_cast<char>(v >> 8), static_cast<char>(v)};
}
std::string U32(uint32_t v) {
  return U16(static_cast<uint16_t>(v >> 16)) + U16(static_cast<uint16_t>(v));
}
std::string F32(float v) {
  return U32(std::bit_cast<uint32_t>(v));
}
std::string Str(const std::string& s) {
  return U16(static_cast<uint16_t>(s.size())) + s;
}
std::string Hello(uint8_t kind = 1) {
  return U16(100) + std::string(1, char(kind)) + Str("pw");
}

class ProbeRegistry {
 public:
  static DeviceRegistry& Get() {
    static DeviceRegistry* registry = [] {
      auto* r = new DeviceRegistry;
      PluginHostContext context;
      context.folder = std::string(ORVEXA_BUILD_DIR) + "/tests";
      EXPECT_TRUE(LoadPlugin(*r, "ServingProbe.ldp", context));
      return r;
    }();
    return *registry;
  }
};

struct Session {
  explicit Session(UserTable* table = nullptr) : users(table) {
    env.registry = &ProbeRegistry::Get();
    env.users = users ? users : &ownUsers;
    env.deviceListingDisabled = &listingDisabled;
  }
  // Runs Hello and the loop over `input`; the sent bytes after the Hello answer.
  std::string Run(const std::string& input, bool local = true, IpAddress peer = {127, 0, 0, 1}) {
    MemoryConnection connection(input, 3);
    uint8_t buffer[25000];
    SocketStream stream(connection, buffer, sizeof buffer, 0);
    MessageWriter writer(connection);
    RequestContext context(env, stream, writer);
    context.local = local;
    context.peerAddress = peer;
    context.clientAddress = peer;
    context.socketRef = &socket;
    ended = false;
    try {
      if (orvexa::Hello(context) == HelloResult::kWrongVersion) {
        wrongVersion = true;
      } else {
        RunRequestLoop(context, RequestTable::Standard());
      }
    } catch (const ConnectionClosed&) {
      ended = true;
    }
    clientAddress = context.clientAddress;
    forwarded = context.forwarded;
    observer = context.observer;
    leftUnread = connection.unread();
    return connection.sent();
  }
  std::atomic<bool> listingDisabled{false};  // the server's copy of DisableDeviceListing
  UserTable ownUsers{nullptr, nullptr};
  UserTable* users;
  ServingEnvironment env;
  ConnectionSocket socket;
  bool ended = false, wrongVersion = false, forwarded = false, observer = false;
  size_t leftUnread = 0;
  IpAddress clientAddress{};
};

TEST(HelloTest, VersionKindsAndForwardedAddresses) {
  {
    Session s;
    EXPECT_EQ(s.Run(U16(99) + "\x01"), "\x03");
    EXPECT_TRUE(s.wrongVersion);
    EXPECT_EQ(s.ownUsers.Count(), 0u);
  }
  {
    Session s;  // forwarded address from a local proxy
    EXPECT_EQ(s.Run(U16(100) + "\x02\x0a\x01\x02\x03\x03" + Str("")), std::string(1, '\0'));
    EXPECT_TRUE(s.forwarded);
    EXPECT_TRUE(s.observer);
    EXPECT_EQ(s.clientAddress, (IpAddress{10, 1, 2, 3}));
    EXPECT_EQ(s.ownUsers.Rows().rows.at(0).text, "010.001.002.003 _RH");
  }
  const std::string refused[] = {
      U16(100) + "\x02\x0a\x01\x02\x03\x02\x0a\x01\x02\x03\x01" + Str(""),  // twice
      U16(100) + "\x04" + Str(""),
      U16(100) + "\x00" + Str(""),
      U16(100) + "\x01" + U16(254) + std::string(254, 'c'),
  };
  for (const auto& input : refused) {
    Session s;
    EXPECT_EQ(s.Run(input), "");
    EXPECT_TRUE(s.ended);
    EXPECT_EQ(s.ownUsers.Count(), 0u);
  }
  Session remote;  // not from 127.0.0.1
  EXPECT_EQ(remote.Run(U16(100) + "\x02\x0a\x01\x02\x03\x01" + Str(""), false, {10, 9, 9, 9}), "");
  Session longest;
  EXPECT_EQ(longest.Run(U16(100) + "\x01" + U16(253) + std::string(253, 'c')),
            std::string(1, '\0'));
}

TEST(RequestsTest, ListAndFindChannels) {
  Session s;
  std::string reply = s.Run(
      Hello() + "\x02" + "\x03" + Str("Probe_Input") + "\x03" + Str("Probe_Output") + "\x03" +
      Str("Probe_WriteOnly") + "\x14" + Str("Probe_WriteOnly") + "\x04" + Str("Probe_WriteOnly") +
      "\x04" + Str("Probe_Input") + "\x03" + Str("burst_3") + "\x14" + Str("burst_7") + "\x04" +
      Str("burst_3") + "\x03" + Str("burst_8") + "\x03" + Str("probe_input"));
  std::string expected = U32(4) + "\x01" + Str("Probe_Input") + Str("Constant input") + "\x03" +
                         Str("Probe_Output") + Str("") + "\x02" + Str("Probe_WriteOnly") +
                         Str("Write only") + "\x01" + Str("Probe_burst_3") + Str("");
  expected += U16(1) + U16(2) + U16(0) + U16(3) + U16(3) + U16(0) + U16(1004) + U16(1008) + U16(0) +
              U16(0) + U16(0);
  EXPECT_EQ(reply.substr(1), expected);
  EXPECT_TRUE(s.ended);
  EXPECT_EQ(s.leftUnread, 0u);

  Session hidden;
  hidden.listingDisabled = true;
  EXPECT_EQ(hidden.Run(Hello() + "\x02").substr(1), U32(0));
}

TEST(RequestsTest, ReadsWritesAndControl) {
  UserTable users(nullptr, nullptr);
  UserTableSettings limited;
  limited.limitMultipleControl = true;
  users.ApplySettings(limited);
  // Somebody else is already in control.
  ConnectionSocket other;
  users.AddUser(0, {10, 0, 0, 9}, &other, false, false);

  Session waiting(&users);
  std::string reply = waiting.Run(Hello() + "\x13" + U16(2) + F32(7.0f) + "\x05" + U16(2) + "\x07");
  ASSERT_EQ(reply.size(), 1u + 4 + 8 + 8);
  EXPECT_NE(reply.substr(5, 4), F32(7.0f));  // the waiting user's write was ignored
  EXPECT_EQ(reply.substr(13, 4), U32(1));    // waiting
  users.RemoveBySocket(&waiting.socket);

  users.RemoveBySocket(&other);
  Session controller(&users);
  reply = controller.Run(Hello() + "\x06" + U16(2) + F32(7.0f) + "\x05" + U16(2) + "\x05" + U16(0) +
                         "\x05" + U16(9) + "\x06" + U16(9) + F32(1.0f) + "\x0b");
  ASSERT_EQ(reply.size(), 1u + 8 + 8 + 8 + 4 + 4);
  EXPECT_EQ(reply.substr(1, 4), F32(7.0f));
  EXPECT_EQ(reply.substr(9, 4), F32(0.0f));   // channel 0
  EXPECT_EQ(reply.substr(17, 4), F32(0.0f));  // beyond the last channel
  EXPECT_EQ(reply.substr(25), U32(1) + std::string("\x7f\x00\x00\x01", 4));
  users.RemoveBySocket(&controller.socket);

  Session observer(&users);
  reply = observer.Run(Hello(3) + "\x06" + U16(2) + F32(9.0f) + "\x05" + U16(2) + "\x07" + "\x0b");
  EXPECT_EQ(reply.substr(1, 4), F32(7.0f));
  EXPECT_EQ(reply.substr(9), U32(0) + U32(0) + U32(0));  // observer: in front, no controllers
}

TEST(RequestsTest, BatchingHoldsRepliesBackAndUnknownCodesEndTheConnection) {
  Session s;
  std::string reply = s.Run(Hello() + "\x0a\x03" + "\x05" + U16(1) + std::string("\x0a\x00", 2) +
                            "\x05" + U16(1) + "\x05" + U16(1));
  EXPECT_EQ(reply.size(), 1u + 3 * 8);  // a batch of 3 (the second held back, then 0 flushes)
  for (uint8_t code : {0, 1, 9, 21, 22, 63, 65, 255}) {  // codes without a request
    Session t;
    EXPECT_EQ(t.Run(Hello() + std::string(1, static_cast<char>(code)) + std::string(20, '\0')),
              std::string(1, '\0'))
        << int(code);
    EXPECT_TRUE(t.ended);
    EXPECT_GE(t.leftUnread, 17u) << int(code);  // the request's bytes were never read
  }
}

// Writes check control under the user-table lock and then take ServerLock; a change of
// control holds the table lock and then takes ServerLock to tell the plug-ins. Run both
// at once for a while: with the two locks taken in opposite orders this would hang.
TEST(RequestsTest, WritesAndControlChangesTakeTheLocksInOneOrder) {
  UserTable users(nullptr,
                  [](int, int) { std::lock_guard<PriorityInheritanceMutex> guard(ServerLock()); });
  UserTableSettings limited;
  limited.limitMultipleControl = true;
  users.ApplySettings(limited);
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    while (!stop) {
      ConnectionSocket other;
      users.AddUser(0, {10, 0, 0, 9}, &other, false, false);
      users.RemoveBySocket(&other);
    }
  });
  std::string writes;
  for (int i = 0; i < 2000; ++i) writes += "\x06" + U16(2) + F32(1.0f);
  for (int round = 0; round < 20; ++round) {
    Session s(&users);
    s.Run(Hello() + writes);
    users.RemoveBySocket(&s.socket);
  }
  stop = true;
  churn.join();
}

}  // namespace
}  // namespace orvexa
