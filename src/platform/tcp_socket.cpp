#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvexa {

ListenResult OpenListeningSocket(int port, int backlog, const std::string& bindAddress) {
  ListenResult result;
  auto fail = [&](ListenStep step, const char* call) {
    result.failedStep = step;
    result.message = ErrnoMessage(call, "", errno);
    if (result.socket != kNoSocket) ::close(result.socket);
    result.socket = kNoSocket;
    return result;
  };
  result.socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (result.socket < 0) return fail(ListenStep::kCreate, "socket");
  int on = 1;
  ::setsockopt(result.socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (!bindAddress.empty() && ::inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1) {
    ::close(result.socket);
    result.socket = kNoSocket;
    result.failedStep = ListenStep::kCreate;
    result.message = "listen address " + bindAddress + ": not an IPv4 address";
    return result;
  }
  if (::bind(result.socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return fail(ListenStep::kCreate, "bind");
  // Accept notifications come from the main loop polling the socket; accepting must
  // then never block, even when the peer went away in between.
  if (!SetBlocking(result.socket, false)) return fail(ListenStep::kInit, "fcntl");
  if (::listen(result.socket, backlog) != 0) return fail(ListenStep::kListen, "listen");
  socklen_t length = sizeof address;
  if (::getsockname(result.socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    result.boundPort = ntohs(address.sin_port);
  return result;
}

int MaxListenBacklog() {
  return SOMAXCONN;
}

SocketHandle AcceptConnection(SocketHandle listener, int* error) {
  for (;;) {
    int socket = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket >= 0) return socket;
    if (errno == EINTR) continue;
    if (error) *error = errno;
    return kNoSocket;
  }
}

bool IsOutOfDescriptors(int error) {
  return error == EMFILE || error == ENFILE;
}

int OpenSpareDescriptor() {
  return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void CloseSpareDescriptor(int descriptor) {
  if (descriptor >= 0) ::close(descriptor);
}

long ReceiveSome(SocketHandle socket, void* buffer, size_t size, int* error) {
  for (;;) {
    ssize_t n = ::recv(socket, buffer, size, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (error) *error = errno;
    return -1;
  }
}

long SendSome(SocketHandle socket, const void* data, size_t size, int* error) {
  for (;;) {
    ssize_t n = ::send(socket, data, size, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (error) *error = errno;
    return -1;
  }
}

bool PeerAddress(SocketHandle socket, uint8_t address[4]) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return false;
  if (storage.ss_family != AF_INET) return false;
  const auto* in = reinterpret_cast<const sockaddr_in*>(&storage);
  std::memcpy(address, &in->sin_addr.s_addr, 4);
  return true;
}

bool SetBlocking(SocketHandle socket, bool blocking) {
  int flags = ::fcntl(socket, F_GETFL, 0);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return ::fcntl(socket, F_SETFL, flags) == 0;
}

void SetNoDelay(SocketHandle socket) {
  int on = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void ShutdownSocket(SocketHandle socket) {
  if (socket != kNoSocket) ::shutdown(socket, SHUT_RDWR);
}

void CloseSocketDescriptor(SocketHandle socket) {
  if (socket != kNoSocket) ::close(socket);
}

SocketHandle ConnectTcp(const std::string& host, int port, std::string* error,
                        const std::string& localAddress) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    if (error) *error = std::string("getaddrinfo(") + host + "): " + gai_strerror(rc);
    return kNoSocket;
  }
  SocketHandle socket = kNoSocket;
  for (addrinfo* a = found; a; a = a->ai_next) {
    socket = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (socket < 0) continue;
    if (!localAddress.empty()) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      if (::inet_pton(AF_INET, localAddress.c_str(), &local.sin_addr) != 1 ||
          ::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        if (error) *error = ErrnoMessage("bind", localAddress, errno);
        ::close(socket);
        socket = kNoSocket;
        continue;
      }
    }
    if (::connect(socket, a->ai_addr, a->ai_addrlen) == 0) break;
    if (error) *error = ErrnoMessage("connect", host, errno);
    ::close(socket);
    socket = kNoSocket;
  }
  ::freeaddrinfo(found);
  return socket;
}

bool WaitReadable(SocketHandle socket, int timeoutMs) {
  pollfd p{socket, POLLIN, 0};
  for (;;) {
    int rc = ::poll(&p, 1, timeoutMs);
    if (rc < 0 && errno == EINTR) continue;
    return rc > 0;
  }
}

}  // namespace orvexa
