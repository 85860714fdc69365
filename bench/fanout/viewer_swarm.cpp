// A swarm of live-data viewers for the fan-out benchmark: one process, one epoll thread,
// N viewers, each a TCP connection upgraded to WebSocket (subprotocol `mqtt`) at a URL
// such as nginx's /mqtt, then an MQTT 3.1.1 client (clean session) subscribed at QoS 0 to
// a lab's `status`, `channels`, `values` and one `fast/<ID>` channel. Written to cost the
// machine far less than the broker path it loads, so the benchmark measures that path.
//
// bench/fanout/fanout.mjs starts one or more of these:
//   viewer_swarm ws://127.0.0.1:PORT/mqtt LAB VIEWERS [STORM_MS=10000]
//                [FAST_ID=Simulator_Sine] [TICK_MS=5]
// The viewers connect spread evenly over STORM_MS. The thread wakes at most every TICK_MS
// and then serves every viewer with data: waking for each message would cost more than the
// broker path being measured; the latencies measured include up to TICK_MS of this wait. Standard
// output says "ready" at once; standard input takes lines: "measure" starts counting fast samples,
// "stop" prints one JSON line and exits (end of input exits silently). The report: viewers
// connected (MQTT accepted, still open), fast samples expected from each viewer's first to last
// sequence number while measuring and those received, a latency histogram in 1 ms buckets (receipt
// minus the batch's send time; the last bucket is "10 s or more"), each viewer's time from
// connect start to holding the three retained topics (ms), viewers ended by an error or
// closed by the peer, the first error's text, and this process's CPU seconds.
// Anything malformed from the peer ends that viewer with a counted error.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/io_result.h"
#include "platform/tcp_socket.h"

namespace {

using orvexa::ErrnoMessage;

constexpr size_t kMaxFrame = 1 << 20;    // no live message comes near this
constexpr size_t kMaxHttpHeader = 8192;  // the upgrade response
constexpr double kPingEveryMs = 20000;   // keep-alive is 60 s
constexpr int kLatencyBuckets = 10001;
constexpr uint16_t kKeepAliveSeconds = 60;

enum class State { kWaiting, kConnecting, kUpgrading, kWebSocket, kMqtt, kEnded };

struct Viewer {
  int fd = -1;
  State state = State::kWaiting;
  double startMs = 0;   // connect start, steady clock
  double pingedMs = 0;  // last PINGREQ (or CONNECT)
  std::string in;       // socket bytes not yet parsed: the HTTP response, then frames
  std::string mqtt;     // WebSocket payload not yet parsed into MQTT packets
  std::string out;      // bytes the socket has not taken yet
  bool wantOut = false, held = false, counting = false;
  uint8_t retained = 0;          // bits: status, channels, values
  uint32_t first = 0, last = 0;  // fast sequence numbers while measuring
  uint64_t received = 0;
};

struct Swarm {
  sockaddr_in address{};
  std::string host, path, prefix, fastLeaf;  // host:port, /mqtt, orvexa/v1/<lab>/, fast/<ID>
  double stormMs = 10000, tickMs = 5;
  int epoll = -1;
  std::vector<Viewer> viewers;
  bool measuring = false;
  std::vector<uint64_t> latency = std::vector<uint64_t>(kLatencyBuckets);
  std::vector<double> holds;
  uint64_t errors = 0, closed = 0;
  std::string firstError;
  uint32_t random = 0x9e3779b9;
};

Swarm swarm;

template <class Clock>
double NowMs() {
  return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}
double SteadyMs() {
  return NowMs<std::chrono::steady_clock>();
}

uint32_t NextMask() {  // xorshift: masks need not be strong here, only present
  uint32_t& x = swarm.random;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

uint32_t ReadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void End(Viewer& v) {
  orvexa::CloseSocketDescriptor(v.fd);  // also leaves the epoll set
  v.fd = -1;
  v.state = State::kEnded;
  for (std::string* buffer : {&v.in, &v.mqtt, &v.out}) std::string().swap(*buffer);
}

bool Fail(Viewer& v, const std::string& why) {
  if (swarm.errors++ == 0) swarm.firstError = why;
  End(v);
  return false;
}

bool Watch(Viewer& v, bool wantOut, int operation = EPOLL_CTL_MOD) {
  epoll_event event{};
  event.events = wantOut ? EPOLLIN | EPOLLOUT : EPOLLIN;
  event.data.u32 = static_cast<uint32_t>(&v - swarm.viewers.data());
  v.wantOut = wantOut;
  return epoll_ctl(swarm.epoll, operation, v.fd, &event) == 0 ||
         Fail(v, ErrnoMessage("epoll_ctl", "", errno));
}

bool Flush(Viewer& v) {
  size_t sent = 0;
  while (sent < v.out.size()) {
    int error = 0;
    long n = orvexa::SendSome(v.fd, v.out.data() + sent, v.out.size() - sent, &error);
    if (n < 0 && error == EAGAIN) break;
    if (n < 0) return Fail(v, ErrnoMessage("send", "", error));
    sent += static_cast<size_t>(n);
  }
  v.out.erase(0, sent);
  bool wantOut = !v.out.empty();
  return wantOut == v.wantOut || Watch(v, wantOut);
}

// One client frame: final, masked, a 7- or 16-bit length (every message here is short).
bool SendFrame(Viewer& v, uint8_t opcode, const void* data, size_t size) {
  uint8_t head[8];
  size_t h = 0;
  head[h++] = 0x80 | opcode;
  if (size < 126) {
    head[h++] = 0x80 | static_cast<uint8_t>(size);
  } else {
    head[h++] = 0x80 | 126;
    head[h++] = static_cast<uint8_t>(size >> 8);
    head[h++] = static_cast<uint8_t>(size);
  }
  uint32_t mask = NextMask();
  std::memcpy(head + h, &mask, 4);
  v.out.append(reinterpret_cast<const char*>(head), h + 4);
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) v.out.push_back(static_cast<char>(bytes[i] ^ head[h + i % 4]));
  return Flush(v);
}

// MQTT: fixed header byte, remaining length, body.
bool SendPacket(Viewer& v, uint8_t type, const std::string& body) {
  std::string packet(1, static_cast<char>(type));
  size_t length = body.size();
  do {
    uint8_t digit = length % 128;
    length /= 128;
    packet.push_back(static_cast<char>(length ? digit | 0x80 : digit));
  } while (length);
  packet += body;
  return SendFrame(v, 2, packet.data(), packet.size());
}

void AppendString(std::string& out, std::string_view text) {
  out.push_back(static_cast<char>(text.size() >> 8));
  out.push_back(static_cast<char>(text.size() & 0xff));
  out += text;
}

bool SendConnect(Viewer& v) {
  std::string body;
  AppendString(body, "MQTT");
  body += {4, 2, static_cast<char>(kKeepAliveSeconds >> 8), kKeepAliveSeconds & 0xff};
  AppendString(
      body, "swarm-" + std::to_string(getpid()) + "-" + std::to_string(&v - swarm.viewers.data()));
  v.pingedMs = SteadyMs();
  return SendPacket(v, 0x10, body);
}

bool SendSubscribe(Viewer& v) {
  std::string body{0, 1};  // packet identifier 1
  for (const char* leaf : {"status", "channels", "values"}) {
    AppendString(body, swarm.prefix + leaf);
    body.push_back(0);
  }
  AppendString(body, swarm.prefix + swarm.fastLeaf);
  body.push_back(0);
  return SendPacket(v, 0x82, body);
}

bool OnFastBatch(Viewer& v, const uint8_t* p, size_t size) {
  if (size < 16) return Fail(v, "fast batch shorter than its header");
  uint32_t first = ReadU32(p);
  uint32_t n = ReadU32(p + 4);
  if (size != 16 + 8ull * n) return Fail(v, "fast batch size disagrees with its count");
  if (n == 0) return true;
  double sentAt;
  std::memcpy(&sentAt, p + 8, 8);
  double ms = NowMs<std::chrono::system_clock>() - sentAt * 1000;
  if (!(ms >= 0)) ms = 0;  // also NaN
  if (ms > kLatencyBuckets - 1) ms = kLatencyBuckets - 1;
  swarm.latency[static_cast<size_t>(std::lround(ms))] += n;
  if (!v.counting) v.first = first;
  v.counting = true;
  v.last = first + n - 1;
  v.received += n;
  return true;
}

bool OnPublish(Viewer& v, uint8_t flags, const uint8_t* p, size_t size) {
  size_t qos = (flags >> 1) & 3;
  if (qos == 3 || size < 2) return Fail(v, "malformed PUBLISH");
  size_t topicSize = size_t(p[0]) << 8 | p[1];
  size_t payloadAt = 2 + topicSize + (qos ? 2 : 0);
  if (payloadAt > size) return Fail(v, "PUBLISH topic longer than the packet");
  std::string_view topic(reinterpret_cast<const char*>(p + 2), topicSize);
  if (!topic.starts_with(swarm.prefix)) return true;
  std::string_view leaf = topic.substr(swarm.prefix.size());
  if ((flags & 1) && !v.held) {
    v.retained |= leaf == "status" ? 1 : leaf == "channels" ? 2 : leaf == "values" ? 4 : 0;
    if (v.retained == 7) {
      v.held = true;
      swarm.holds.push_back(SteadyMs() - v.startMs);
    }
  }
  if (swarm.measuring && leaf == swarm.fastLeaf)
    return OnFastBatch(v, p + payloadAt, size - payloadAt);
  return true;
}

bool OnPacket(Viewer& v, uint8_t type, const uint8_t* p, size_t size) {
  switch (type >> 4) {
    case 2:  // CONNACK
      if (v.state != State::kWebSocket || size != 2 || p[1] != 0)
        return Fail(v, "CONNACK refused or unexpected");
      v.state = State::kMqtt;
      return SendSubscribe(v);
    case 9:  // SUBACK
      for (size_t i = 2; i < size; ++i)
        if (p[i] & 0x80) return Fail(v, "subscription refused");
      return true;
    case 3:
      return OnPublish(v, type & 0x0f, p, size);
    case 13:  // PINGRESP
      return true;
    default:
      return Fail(v, "unexpected MQTT packet type " + std::to_string(type >> 4));
  }
}

bool ReadPackets(Viewer& v) {
  const auto* b = reinterpret_cast<const uint8_t*>(v.mqtt.data());
  size_t pos = 0;
  for (;;) {
    size_t avail = v.mqtt.size() - pos;
    size_t head = 1;
    size_t length = 0;
    bool complete = false;
    for (int k = 0; k < 4 && head < avail; ++k) {
      uint8_t c = b[pos + head++];
      length |= size_t(c & 0x7f) << (7 * k);
      if (!(c & 0x80)) {
        complete = true;
        break;
      }
    }
    if (!complete) {
      if (head == 5) return Fail(v, "MQTT remaining length longer than 4 bytes");
      break;
    }
    if (length > kMaxFrame) return Fail(v, "MQTT packet too long");
    if (avail < head + length) break;
    if (!OnPacket(v, b[pos], b + pos + head, length)) return false;
    pos += head + length;
  }
  v.mqtt.erase(0, pos);
  return true;
}

bool ReadFrames(Viewer& v) {
  const auto* b = reinterpret_cast<const uint8_t*>(v.in.data());
  size_t pos = 0;
  while (v.in.size() - pos >= 2) {
    size_t avail = v.in.size() - pos;
    uint8_t opcode = b[pos] & 0x0f;
    if (b[pos + 1] & 0x80) return Fail(v, "masked frame from the server");
    uint64_t length = b[pos + 1] & 0x7f;
    size_t head = length == 126 ? 4 : length == 127 ? 10 : 2;
    if (avail < head) break;
    if (head > 2) length = 0;
    for (size_t i = 2; i < head; ++i) length = length << 8 | b[pos + i];
    if (length > kMaxFrame) return Fail(v, "WebSocket frame too long");
    if (avail < head + length) break;
    const uint8_t* payload = b + pos + head;
    if (opcode == 0 || opcode == 2) {
      v.mqtt.append(reinterpret_cast<const char*>(payload), length);
    } else if (opcode == 9) {
      if (length > 125) return Fail(v, "ping longer than 125 bytes");
      if (!SendFrame(v, 10, payload, length)) return false;  // the pong goes to v.out
    } else if (opcode == 8) {
      ++swarm.closed;
      End(v);
      return false;
    } else if (opcode != 10) {
      return Fail(v, "unexpected WebSocket opcode " + std::to_string(opcode));
    }
    pos += head + length;
  }
  v.in.erase(0, pos);
  return ReadPackets(v);
}

bool ReadUpgrade(Viewer& v) {
  size_t end = v.in.find("\r\n\r\n");
  if (end == std::string::npos)
    return v.in.size() <= kMaxHttpHeader || Fail(v, "upgrade response too long");
  std::string status = v.in.substr(0, v.in.find("\r\n"));
  if (!status.starts_with("HTTP/1.1 101")) return Fail(v, "upgrade refused: " + status);
  v.in.erase(0, end + 4);
  v.state = State::kWebSocket;
  return SendConnect(v) && ReadFrames(v);
}

// The viewers' steps return false once the viewer has ended.
bool Start(Viewer& v) {
  v.startMs = SteadyMs();
  v.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (v.fd < 0) return Fail(v, ErrnoMessage("socket", "", errno));
  v.state = State::kConnecting;
  const auto* address = reinterpret_cast<const sockaddr*>(&swarm.address);
  if (connect(v.fd, address, sizeof swarm.address) != 0 && errno != EINPROGRESS)
    return Fail(v, ErrnoMessage("connect", swarm.host, errno));
  return Watch(v, true, EPOLL_CTL_ADD);  // writable once connected
}

bool OnConnected(Viewer& v) {
  int error = 0;
  socklen_t size = sizeof error;
  getsockopt(v.fd, SOL_SOCKET, SO_ERROR, &error, &size);
  if (error != 0) return Fail(v, ErrnoMessage("connect", swarm.host, error));
  v.state = State::kUpgrading;
  v.out = "GET " + swarm.path + " HTTP/1.1\r\nHost: " + swarm.host +
          "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
          "Sec-WebSocket-Protocol: mqtt\r\n\r\n";
  return Flush(v);
}

bool OnEvent(Viewer& v, uint32_t events) {
  if (v.state == State::kConnecting)
    return !(events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) || OnConnected(v);
  if ((events & EPOLLOUT) && !Flush(v)) return false;
  if (!(events & (EPOLLIN | EPOLLERR | EPOLLHUP))) return true;
  static char buffer[1 << 16];
  int error = 0;
  long n = orvexa::ReceiveSome(v.fd, buffer, sizeof buffer, &error);
  if (n < 0) return error == EAGAIN || Fail(v, ErrnoMessage("recv", "", error));
  if (n == 0) {
    ++swarm.closed;
    End(v);
    return false;
  }
  v.in.append(buffer, static_cast<size_t>(n));
  return v.state == State::kUpgrading ? ReadUpgrade(v) : ReadFrames(v);
}

void Report() {
  uint64_t connected = 0, pending = 0, expected = 0, received = 0;
  for (const Viewer& v : swarm.viewers) {
    connected += v.state == State::kMqtt;
    pending += v.state != State::kMqtt && v.state != State::kEnded;
    if (!v.counting) continue;
    expected += uint64_t(uint32_t(v.last - v.first)) + 1;
    received += v.received;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::string error;
  for (char c : swarm.firstError) error.push_back(c == '"' || c == '\\' || c < ' ' ? '?' : c);
  std::string out =
      "{\"viewers\":" + std::to_string(swarm.viewers.size()) +
      ",\"connected\":" + std::to_string(connected) + ",\"expected\":" + std::to_string(expected) +
      ",\"received\":" + std::to_string(received) + ",\"errors\":" + std::to_string(swarm.errors) +
      ",\"closed\":" + std::to_string(swarm.closed) + ",\"pending\":" + std::to_string(pending) +
      ",\"firstError\":\"" + error + "\",\"cpuSeconds\":" + std::to_string(cpu) + ",\"holds\":[";
  for (size_t i = 0; i < swarm.holds.size(); ++i)
    out += (i ? "," : "") + std::to_string(std::lround(swarm.holds[i]));
  out += "],\"latency\":[";
  for (size_t i = 0; i < swarm.latency.size(); ++i)
    out += (i ? "," : "") + std::to_string(swarm.latency[i]);
  out += "]}\n";
  fwrite(out.data(), 1, out.size(), stdout);
  fflush(stdout);
}

// Lines from the benchmark; false when it is time to leave.
bool ReadCommands() {
  static std::string lines;
  char buffer[256];
  ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
  if (n < 0 && errno == EINTR) return true;
  if (n <= 0) return false;
  lines.append(buffer, static_cast<size_t>(n));
  for (size_t end; (end = lines.find('\n')) != std::string::npos; lines.erase(0, end + 1)) {
    std::string line = lines.substr(0, end);
    if (line == "measure") swarm.measuring = true;
    if (line == "stop") {
      swarm.measuring = false;
      Report();
      return false;
    }
  }
  return true;
}

bool ParseUrl(const std::string& url) {
  if (!url.starts_with("ws://")) return false;
  size_t slash = url.find('/', 5);
  swarm.host = url.substr(5, slash == std::string::npos ? std::string::npos : slash - 5);
  swarm.path = slash == std::string::npos ? "/" : url.substr(slash);
  size_t colon = swarm.host.rfind(':');
  int port = colon == std::string::npos ? 80 : std::atoi(swarm.host.c_str() + colon + 1);
  swarm.address.sin_family = AF_INET;
  swarm.address.sin_port = htons(static_cast<uint16_t>(port));
  return port > 0 && port < 65536 &&
         inet_pton(AF_INET, swarm.host.substr(0, colon).c_str(), &swarm.address.sin_addr) == 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || !ParseUrl(argv[1]) || std::atoi(argv[3]) <= 0) {
    fprintf(stderr,
            "usage: viewer_swarm ws://IPv4:PORT/PATH LAB VIEWERS [STORM_MS=10000] "
            "[FAST_ID=Simulator_Sine] [TICK_MS=5]\n");
    return 2;
  }
  swarm.prefix = std::string("orvexa/v1/") + argv[2] + "/";
  swarm.viewers.resize(static_cast<size_t>(std::atoi(argv[3])));
  swarm.stormMs = argc > 4 ? std::atof(argv[4]) : 10000;
  swarm.fastLeaf = std::string("fast/") + (argc > 5 ? argv[5] : "Simulator_Sine");
  swarm.tickMs = argc > 6 ? std::atof(argv[6]) : 5;
  swarm.random ^= static_cast<uint32_t>(getpid());

  // A descriptor per viewer: the soft limit up to the hard one.
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < swarm.viewers.size() + 16)
    fprintf(stderr, "viewer_swarm: only %llu descriptors for %zu viewers\n",
            static_cast<unsigned long long>(limit.rlim_cur), swarm.viewers.size());

  swarm.epoll = epoll_create1(EPOLL_CLOEXEC);
  epoll_event input{};
  input.events = EPOLLIN;
  input.data.u32 = UINT32_MAX;
  if (swarm.epoll < 0 || epoll_ctl(swarm.epoll, EPOLL_CTL_ADD, STDIN_FILENO, &input) != 0) {
    fprintf(stderr, "viewer_swarm: %s\n", ErrnoMessage("epoll", "", errno).c_str());
    return 1;
  }
  puts("ready");
  fflush(stdout);

  const double begin = SteadyMs();
  size_t started = 0;
  double nextSweep = begin;
  std::vector<epoll_event> events(4096);
  for (;;) {
    double now = SteadyMs();
    const size_t count = swarm.viewers.size();
    while (started < count && now >= begin + swarm.stormMs * started / count)
      Start(swarm.viewers[started++]);
    if (now >= nextSweep) {  // keep-alive
      nextSweep = now + 1000;
      for (Viewer& v : swarm.viewers)
        if (v.state == State::kMqtt && now - v.pingedMs >= kPingEveryMs) {
          v.pingedMs = now;
          SendPacket(v, 0xc0, "");
        }
    }
    double due = started < count ? begin + swarm.stormMs * started / count : nextSweep;
    int timeout = static_cast<int>(std::ceil(std::max(0.0, std::min(due, nextSweep) - now)));
    int ready = epoll_wait(swarm.epoll, events.data(), static_cast<int>(events.size()), timeout);
    if (ready < 0 && errno != EINTR) {
      fprintf(stderr, "viewer_swarm: %s\n", ErrnoMessage("epoll_wait", "", errno).c_str());
      return 1;
    }
    for (int i = 0; i < ready; ++i) {
      uint32_t index = events[i].data.u32;
      if (index == UINT32_MAX) {
        if (!ReadCommands()) return 0;
        continue;
      }
      Viewer& v = swarm.viewers[index];
      if (v.fd >= 0) OnEvent(v, events[i].events);
    }
    double rest = now + swarm.tickMs - SteadyMs();
    if (rest > 0) usleep(static_cast<useconds_t>(rest * 1000));
  }
}
