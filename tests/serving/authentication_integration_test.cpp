// Signed reservation tokens with the real server and build/orvexa-token: which tokens
// Hello admits and which it refuses (answer 4, connection closed, one audit line, nobody
// else disturbed), the bound on refusals per address (direct and behind the local proxy),
// a booking that ends while connected, the listen address, and keys the server must not
// start with.
#include <jwt.h>

#include <cstdio>
#include <cstdlib>

#include "running_server.h"

namespace orvexa::test {
namespace {

constexpr uint8_t kNotAuthorised = 4;

std::string Tool(const std::string& args) {
  return orvexa::test::RunBuildTool("orvexa-token " + args);
}

// An HS256 token "signed" with the text of the server's public key: what a client that
// knows the public key would forge if the token chose the algorithm.
std::string SignedWithPublicKey(const std::string& publicKeyText) {
  jwt_t* token = nullptr;
  jwt_new(&token);
  jwt_add_grant(token, "sub", "mallory");
  jwt_add_grant(token, "role", "controller");
  jwt_add_grant_int(token, "exp", 4000000000L);
  jwt_add_grant(token, "aud", "lab-7");
  jwt_set_alg(token, JWT_ALG_HS256, reinterpret_cast<const unsigned char*>(publicKeyText.data()),
              static_cast<int>(publicKeyText.size()));
  char* text = jwt_encode_str(token);
  std::string forged = text ? text : "";
  std::free(text);  // libjwt allocates with malloc
  jwt_free(token);
  return forged;
}

// Hello over plain TCP from `from`; the answer, and whether the server then closed.
uint8_t HelloFrom(int port, const std::string& from, uint8_t kind, const std::string& token,
                  bool* closed = nullptr) {
  ProtocolClient c;
  c.Connect("127.0.0.1", port, Transport::kTcp, {}, from);
  const uint8_t answer = c.Hello(kind, nullptr, 100, token);
  if (closed) *closed = c.WaitClosed(5000);
  return answer;
}

TEST(AuthenticationTest, TokensAdmittedOrRefusedAndRefusalsBounded) {
  TempDir keys;
  ASSERT_NE(Tool("--new-es256 " + keys.File("lab.key") + " " + keys.File("lab.pub")), "");
  Tool("--new-es256 " + keys.File("other.key") + " " + keys.File("other.pub"));
  RunningServer server({"/listen", "127.0.0.1"}, false,
                       "OrvexaConfig { Authenticate = true AuthKeyFile = \"" +
                           keys.File("lab.pub") + "\" LabId = \"lab-7\" AuthLeeway = 0 }\n");
  const std::string key = "--key " + keys.File("lab.key") + " --aud lab-7 ";
  const std::string alice = Tool(key + "--role controller --sub alice");
  const std::string olga = Tool(key + "--role observer --sub olga");

  // Valid tokens: a controller over WebSocket, an observer over TCP.
  ProtocolClient controller;
  controller.Connect("127.0.0.1", server.port, Transport::kWebSocket);
  ASSERT_EQ(controller.Hello(1, nullptr, 100, alice), 0);
  EXPECT_EQ(controller.ReadValue(1).first, 21.5f);
  ProtocolClient observer;
  observer.Connect("127.0.0.1", server.port, Transport::kTcp);
  ASSERT_EQ(observer.Hello(3, nullptr, 100, olga), 0);
  EXPECT_TRUE(server.WaitForAudit("authenticated as \"alice\" (controller)"));
  EXPECT_TRUE(server.WaitForAudit("authenticated as \"olga\" (observer)"));

  // Refusals, each from an address of its own so that the bound stays out of the way.
  const std::string header = "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0";  // {"alg":"none",...}
  const std::string payload =
      "eyJzdWIiOiJldmUiLCJyb2xlIjoiY29udHJvbGxlciIsImV4cCI6NDAwMDAwMDAwMCwiYXVkIjoibGFiLTcifQ";
  struct Case {
    std::string token;
    uint8_t kind;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {Tool(key + "--role controller --sub bob --minutes -5"), 1, "token expired"},
      {Tool(key + "--role controller --sub bob --not-before 10"), 1, "token not yet valid"},
      {Tool("--key " + keys.File("lab.key") + " --aud lab-8 --role controller --sub bob"), 1,
       "wrong audience"},
      {Tool("--key " + keys.File("other.key") + " --aud lab-7 --role controller --sub bob"), 1,
       "invalid token or signature"},
      {header + "." + payload + ".", 1, "wrong algorithm"},
      {SignedWithPublicKey(keys.Read("lab.pub")), 1, "wrong algorithm"},
      {alice.substr(0, alice.size() - 9), 1, "invalid token or signature"},
      {std::string(253, 'A'), 1, "invalid token or signature"},
      {olga, 1, "observer token for a controlling client"},
      {"", 3, "no token"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].reason);
    const std::string from = "127.0.1." + std::to_string(i + 1);
    bool closed = false;
    EXPECT_EQ(HelloFrom(server.port, from, cases[i].kind, cases[i].token, &closed), kNotAuthorised);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(server.WaitForAudit("Hello refused from " + from + " (over " + from +
                                    "): " + cases[i].reason));
  }
  // One line per refusal, and no token in the audit log.
  EXPECT_EQ(CountOf(server.Audit(), "Hello refused"), cases.size());
  EXPECT_EQ(server.Audit().find(alice.substr(0, 40)), std::string::npos);

  // Ten refusals close an address for a while, at accept; another address is served.
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(HelloFrom(server.port, "127.0.2.1", 1, "x"), kNotAuthorised);
  EXPECT_TRUE(server.WaitForAudit("Address 127.0.2.1 closed for 60 s after 10 refused Hellos"));
  ProtocolClient blocked;
  blocked.ConnectRaw("127.0.0.1", server.port, "127.0.2.1");
  std::string bytes;
  EXPECT_TRUE(blocked.ReadUntilClosed(&bytes, 5000));
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(HelloFrom(server.port, "127.0.2.2", 1, alice), 0);
  // Behind the local proxy the address is the one X-Real-IP names.
  for (int i = 0; i < 10; ++i) {
    ProtocolClient p;
    p.Connect("127.0.0.1", server.port, Transport::kWebSocket, {"X-Real-IP: 10.7.7.7"});
    EXPECT_EQ(p.Hello(1, nullptr, 100, "x"), kNotAuthorised);
  }
  EXPECT_TRUE(server.WaitForAudit("Address 10.7.7.7 closed"));
  ProtocolClient proxiedBlocked;
  proxiedBlocked.Connect("127.0.0.1", server.port, Transport::kWebSocket, {"X-Real-IP: 10.7.7.7"});
  EXPECT_TRUE(proxiedBlocked.WaitClosed(5000));
  ProtocolClient proxiedOther;
  proxiedOther.Connect("127.0.0.1", server.port, Transport::kWebSocket, {"X-Real-IP: 10.7.7.8"});
  EXPECT_EQ(proxiedOther.Hello(1, nullptr, 100, alice), 0);

  // Nobody admitted before was disturbed.
  EXPECT_EQ(controller.ReadValue(1).first, 21.5f);
  EXPECT_EQ(observer.ReadValue(1).first, 21.5f);

  // Bound to 127.0.0.1 only: another local address finds nothing listening.
  std::string error;
  SocketHandle elsewhere = ConnectTcp("127.0.0.2", server.port, &error);
  EXPECT_EQ(elsewhere, kNoSocket) << "connected to 127.0.0.2";
  if (elsewhere != kNoSocket) CloseSocketDescriptor(elsewhere);
}

// A shared secret: refused when others may read it; a booking that ends while its user is
// connected ends control and the connection.
TEST(AuthenticationTest, SecretKeyAndBookingEnd) {
  TempDir keys;
  keys.Write("open.secret", std::string(40, 's') + "\n");  // mode 0644
  TempDir refusing;
  refusing.Write("orvexa.cfg", "OrvexaConfig { Authenticate = true AuthKeyFile = \"" +
                                   keys.File("open.secret") + "\" }\n");
  CompletedRun refused = RunServerToEnd(refusing.path(), {"/port", "0"});
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("chmod 600"), std::string::npos) << refused.err;

  Tool("--new-hs256 " + keys.File("lab.secret"));
  RunningServer server({"/limitcontrol"}, false,
                       "OrvexaConfig { Authenticate = true AuthLeeway = 0 AuthKeyFile = \"" +
                           keys.File("lab.secret") + "\" }\n");
  const std::string key = "--key " + keys.File("lab.secret") + " --role controller ";
  ProtocolClient first;
  first.Connect("127.0.0.1", server.port, Transport::kTcp);
  ASSERT_EQ(first.Hello(1, nullptr, 100, Tool(key + "--sub ann --seconds 3")), 0);
  ProtocolClient second;
  second.Connect("127.0.0.1", server.port, Transport::kWebSocket);
  ASSERT_EQ(second.Hello(1, nullptr, 100, Tool(key + "--sub ben")), 0);
  EXPECT_EQ(second.ControlStatus().first, 1);  // waits behind ann
  EXPECT_TRUE(server.WaitForAudit("Booking of user 1 (\"ann\") ended"));
  EXPECT_TRUE(first.WaitClosed(5000));
  EXPECT_TRUE(server.WaitForAudit("Users 1 connection closed"));
  EXPECT_EQ(second.ControlStatus().first, 0);
}

}  // namespace
}  // namespace orvexa::test
