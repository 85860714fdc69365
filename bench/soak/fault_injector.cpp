#include "fault_injector.h"

#include <sys/socket.h>

#include <memory>
#include <thread>
#include <vector>

#include "client/protocol_client.h"
#include "platform/clock.h"

namespace orvexa::soak {
namespace {

using client::ProtocolClient;
using client::Transport;

constexpr size_t kBigReply = 4 + 8 * size_t{131072};
const std::string kCloseFrame("\x88\x00", 2);

std::unique_ptr<ProtocolClient> Open(const SoakContext& c, bool websocket, bool hello = true) {
  auto client = std::make_unique<ProtocolClient>();
  client->set_timeout_ms(15000);
  client->Connect("127.0.0.1", c.port, websocket ? Transport::kWebSocket : Transport::kTcp);
  if (hello && client->Hello(3) != 0) throw client::ClientError("Hello not answered with 0");
  return client;
}

// Ends the connection with a reset instead of an orderly close.
void Abort(ProtocolClient& client) {
  linger hard{1, 0};
  ::setsockopt(client.socket(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  client.Close();
}

void SendRequest(ProtocolClient& client, const std::string& bytes) {
  client.SendRaw(client.websocket() ? client::EncodeClientFrame(2, bytes) : bytes);
}

std::string BigHistoryRequest(const SoakContext& c) {
  const uint32_t span = static_cast<uint32_t>(CalendarSeconds() - c.prefillStart + 60);
  std::string r{8, static_cast<char>(c.sine >> 8), static_cast<char>(c.sine)};
  for (int shift = 24; shift >= 0; shift -= 8) r += static_cast<char>(span >> shift);
  return r + std::string(6, '\0');  // mode 0, limit 0
}

}  // namespace

FaultInjector::FaultInjector(SoakContext& context, uint32_t seed) : c_(context), rng_(seed) {}

std::string FaultInjector::RandomBytes(size_t n) {
  std::string bytes(n, '\0');
  for (auto& b : bytes) b = static_cast<char>(Uniform(0, 255));
  return bytes;
}

void FaultInjector::Run() {
  struct Kind {
    const char* name;
    void (FaultInjector::*inject)();
    int weight;
  };
  static const Kind kinds[] = {
      {"disconnect mid-request", &FaultInjector::MidRequest, 16},
      {"disconnect mid-reply", &FaultInjector::MidReply, 10},
      {"garbage before Hello", &FaultInjector::GarbageBeforeHello, 12},
      {"garbage after Hello", &FaultInjector::GarbageAfterHello, 12},
      {"oversized frame (64-bit length)", &FaultInjector::OversizedFrame, 10},
      {"fragmented frame", &FaultInjector::FragmentedFrame, 12},
      {"frame above the receive buffer", &FaultInjector::FrameAboveBuffer, 6},
      {"slow reader never draining", &FaultInjector::SlowReader, 4},
      {"no Hello", &FaultInjector::NoHello, 8},
  };
  int total = 0;
  for (const auto& k : kinds) total += k.weight;
  while (!c_.stopFaults) {
    ++c_.activeFaults;
    // Checked after counting in, so a pausing soak that sees no active fault sees none start.
    if (c_.pauseFaults) {
      --c_.activeFaults;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    int pick = Uniform(0, total - 1);
    const Kind* kind = kinds;
    while (pick >= kind->weight) pick -= (kind++)->weight;
    try {
      (this->*kind->inject)();
    } catch (const std::exception& e) {
      c_.stats.FaultEffect(kind->name, false, e.what());
    }
    --c_.activeFaults;
    std::this_thread::sleep_for(std::chrono::milliseconds(Uniform(100, 400)));
  }
}

// The connection ends in the middle of a request (on WebSocket in the middle of its
// frame): until then the server must wait for the rest without a word.
void FaultInjector::MidRequest() {
  auto client = Open(c_, Uniform(0, 1) == 1);
  std::string request = BigHistoryRequest(c_);
  if (client->websocket()) request = client::EncodeClientFrame(2, request);
  client->SendRaw(
      request.substr(0, static_cast<size_t>(Uniform(1, static_cast<int>(request.size()) - 1))));
  const bool waiting = client->Quiet(200);
  if (Uniform(0, 1)) Abort(*client);
  c_.stats.FaultEffect("disconnect mid-request", waiting,
                       "the server answered or closed a cut request");
}

void FaultInjector::MidReply() {
  auto client = Open(c_, Uniform(0, 1) == 1);
  SendRequest(*client, BigHistoryRequest(c_));
  const uint32_t n = client->ReadU32();
  client->ReadBytes(static_cast<size_t>(Uniform(0, 200000)));
  Abort(*client);
  c_.stats.FaultEffect("disconnect mid-reply", n == 131072,
                       "history reply started with count " + std::to_string(n));
}

// Any first two bytes other than "GE" are a protocol version; not 100: answer 3, close.
void FaultInjector::GarbageBeforeHello() {
  ProtocolClient client;
  client.ConnectRaw("127.0.0.1", c_.port);
  std::string bytes = RandomBytes(static_cast<size_t>(Uniform(2, 64)));
  if (bytes.compare(0, 2, "GE") == 0 || bytes.compare(0, 2, std::string("\0d", 2)) == 0)
    bytes[0] = 'X';
  client.SendRaw(bytes);
  std::string got;
  const bool closed = client.ReadUntilClosed(&got, 10000);
  c_.stats.FaultEffect("garbage before Hello", closed && got == "\x03",
                       closed ? "answered " + std::to_string(got.size()) + " bytes" : "not closed");
}

// A request code the protocol does not have ends the connection without a reply.
void FaultInjector::GarbageAfterHello() {
  auto client = Open(c_, Uniform(0, 1) == 1);
  const int codes[] = {0, 1, 9, Uniform(21, 255)};
  SendRequest(*client, std::string(1, static_cast<char>(codes[Uniform(0, 3)])) +
                           RandomBytes(static_cast<size_t>(Uniform(0, 40))));
  std::string got;
  const bool closed = client->ReadUntilClosed(&got, 10000);
  const bool quiet = client->websocket() ? got == kCloseFrame : got.empty();
  c_.stats.FaultEffect("garbage after Hello", closed && quiet,
                       closed ? "answered " + std::to_string(got.size()) + " bytes" : "not closed");
}

void FaultInjector::OversizedFrame() {
  auto client = Open(c_, true);
  client->SendRaw(client::EncodeClientFrame(2, std::string("\x05\x00\x01", 3), true, true, true));
  std::string got;
  const bool closed = client->ReadUntilClosed(&got, 10000);
  c_.stats.FaultEffect("oversized frame (64-bit length)", closed && got == kCloseFrame,
                       closed ? "answered " + std::to_string(got.size()) + " bytes" : "not closed");
}

// Client messages are never fragmented, and no request item spans two frames.
void FaultInjector::FragmentedFrame() {
  auto client = Open(c_, true);
  if (Uniform(0, 1)) {
    client->SendRaw(client::EncodeClientFrame(2, std::string("\x05\x00\x01", 3), false));
  } else {
    client->SendRaw(client::EncodeClientFrame(2, std::string("\x05\x00", 2)) +
                    client::EncodeClientFrame(2, std::string("\x01", 1)));
  }
  std::string got;
  const bool closed = client->ReadUntilClosed(&got, 10000);
  c_.stats.FaultEffect("fragmented frame", closed && got == kCloseFrame,
                       closed ? "answered " + std::to_string(got.size()) + " bytes" : "not closed");
}

// 10000 ReadValue requests in one 30000-byte frame, above the 25000-byte receive
// buffer: legal, because no single item is larger; every one must be answered.
void FaultInjector::FrameAboveBuffer() {
  auto client = Open(c_, true);
  std::string requests;
  for (int i = 0; i < 10000; ++i)
    requests += std::string{5, static_cast<char>(c_.sine >> 8), static_cast<char>(c_.sine)};
  client->SendRaw(client::EncodeClientFrame(2, requests));
  bool ok = true;
  for (int i = 0; i < 10000 && ok; ++i) {
    const float v = client->ReadF32();
    client->ReadU32();
    ok = c_.Plausible(c_.sine, v);
  }
  c_.stats.FaultEffect("frame above the receive buffer", ok, "implausible value");
}

// Asks for 24 MB of history, more than the socket buffers hold, and never reads. The
// server blocks in its send; the idle time-out must still end the connection (shutting
// the socket down wakes the send). Then what did arrive is drained to the end.
void FaultInjector::SlowReader() {
  auto client = Open(c_, Uniform(0, 1) == 1);
  const int requests = 24;
  for (int i = 0; i < requests; ++i) SendRequest(*client, BigHistoryRequest(c_));
  std::this_thread::sleep_for(std::chrono::seconds(c_.expirySeconds + 8));
  std::string got;
  const bool closed = client->ReadUntilClosed(&got, 10000);
  const bool cut = got.size() < requests * kBigReply;
  c_.stats.FaultEffect("slow reader never draining", closed && cut,
                       closed
                           ? "received all " + std::to_string(got.size()) + " bytes: never cut off"
                           : "not closed");
}

// Silent connections lose their place after OpeningTimeout (set to the expiry delay
// here), not before.
void FaultInjector::NoHello() {
  const int variant = Uniform(0, 2);
  ProtocolClient client;
  if (variant == 2) {
    client.Connect("127.0.0.1", c_.port, Transport::kWebSocket);
  } else {
    client.ConnectRaw("127.0.0.1", c_.port);
    if (variant == 1) client.SendRaw(std::string(1, '\0'));  // half a version
  }
  const int64_t start = NowMs();
  const bool closed = client.WaitClosed((c_.expirySeconds + 10) * 1000);
  const int64_t took = NowMs() - start;
  c_.stats.FaultEffect("no Hello", closed && took >= (c_.expirySeconds - 1) * 1000,
                       closed ? "closed after " + std::to_string(took) + " ms" : "not closed");
}

void FillConnectionTable(SoakContext& c) {
  std::vector<std::unique_ptr<ProtocolClient>> fillers;
  const int spare = c.maxClients - c.clients;
  std::string problem;
  for (int i = 0; i < spare && problem.empty(); ++i) {
    try {
      fillers.push_back(Open(c, false));
    } catch (const std::exception& e) {
      problem = "only " + std::to_string(i) + " of " + std::to_string(spare) +
                " free places admitted (" + e.what() + ")";
    }
  }
  if (problem.empty()) {
    // One more: closed at once without a word, before any answer to its Hello.
    ProtocolClient extra;
    extra.ConnectRaw("127.0.0.1", c.port);
    extra.SendRaw(std::string("\x00\x64\x03\x00\x00", 5));
    std::string got;
    if (!extra.ReadUntilClosed(&got, 3000))
      problem = "a connection beyond MaxClientCount was kept open";
    else if (!got.empty())
      problem = "a connection beyond MaxClientCount was answered";
  }
  if (problem.empty()) {
    fillers.pop_back();  // one place freed: it must be taken again
    const int64_t deadline = NowMs() + 5000;
    for (;;) {
      try {
        fillers.push_back(Open(c, false));
        break;
      } catch (const client::ClientError&) {
        if (NowMs() > deadline) {
          problem = "a freed place was not taken again within 5 s";
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
  }
  c.stats.FaultEffect("full connection table", problem.empty(), problem);
}

}  // namespace orvexa::soak
