// A socket pair whose one end already holds a fuzz input, for the targets that decode
// what a server sends: the client takes `client`, reads the input as the server's
// bytes, and finds the end of it as a time-out. What the client sends goes unread: its
// side does not block, so a full buffer is a send error, not a hang. Inputs are cut to
// 64 KiB, below the pair's buffer size, so the write never blocks.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

struct PreloadedSocket {
  int client = -1;
  int server = -1;

  // False (nothing left open) when the pair cannot be made or filled.
  bool Open(const uint8_t* data, size_t size) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
    ::fcntl(pair[0], F_SETFL, O_NONBLOCK);
    const size_t length = size < 65536 ? size : 65536;
    if (length > 0 && ::write(pair[1], data, length) < 0) {
      ::close(pair[0]);
      ::close(pair[1]);
      return false;
    }
    client = pair[0];
    server = pair[1];
    return true;
  }
  // The client closes its own end; this closes the other.
  ~PreloadedSocket() {
    if (server >= 0) ::close(server);
  }
};
