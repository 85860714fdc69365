// Thin layer over BSD TCP sockets: the listening socket, accepting, blocking receive and
// send, peer address, shutdown and close. The transport and the client library reach
// the network only through these functions. Stateless; safe from any thread (a socket
// handle itself belongs to whoever created or accepted it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/io_result.h"

namespace orvexa {

// A socket is a file descriptor; -1 stands for none.
using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;

// Which step of opening the listening socket failed (the start-up message depends on it).
enum class ListenStep { kNone, kCreate, kInit, kListen };

struct ListenResult {
  SocketHandle socket = kNoSocket;
  ListenStep failedStep = ListenStep::kNone;
  std::string message;  // errno text naming the call, when a step failed
  int boundPort = 0;    // the port actually bound (differs from the request for port 0)
};

// A non-blocking stream socket bound to `address` (IPv4 dotted; empty or "0.0.0.0": every
// interface) on `port` (0: any free port), listening with `backlog`.
ListenResult OpenListeningSocket(int port, int backlog, const std::string& address = "");
// The longest queue of pending connections the system grants (SOMAXCONN).
int MaxListenBacklog();

// Accepts one pending connection of a non-blocking listening socket; the returned socket
// is blocking. kNoSocket when nothing was pending or accepting failed (errno in
// *error).
SocketHandle AcceptConnection(SocketHandle listener, int* error = nullptr);
// True for the accept errors of a process (or system) out of descriptors.
bool IsOutOfDescriptors(int error);
// A descriptor held in reserve (on /dev/null), so that a process out of descriptors can
// still accept a pending connection in order to refuse it; -1 when none could be opened.
int OpenSpareDescriptor();
void CloseSpareDescriptor(int descriptor);

// recv/send with errno kept: >0 bytes moved, 0 peer closed (receive only), -1 error
// (the error code in *error). Interrupted calls are retried; send never raises SIGPIPE.
long ReceiveSome(SocketHandle socket, void* buffer, size_t size, int* error);
long SendSome(SocketHandle socket, const void* data, size_t size, int* error);

// The IPv4 peer address in network order; false for another family or on failure.
bool PeerAddress(SocketHandle socket, uint8_t address[4]);
bool SetBlocking(SocketHandle socket, bool blocking);
void SetNoDelay(SocketHandle socket);

// Wakes every thread blocked on the socket (their calls fail) without releasing the
// handle: only the owner closes it, so a handle number is never reused under a waiter.
void ShutdownSocket(SocketHandle socket);
// close(2); kNoSocket is ignored.
void CloseSocketDescriptor(SocketHandle socket);

// Client side: a blocking connection to host:port (IPv4 dotted or a name), from
// `localAddress` when one is given (for example 127.0.0.2).
SocketHandle ConnectTcp(const std::string& host, int port, std::string* error = nullptr,
                        const std::string& localAddress = "");
// Waits until the socket is readable or `timeoutMs` passes (-1: forever).
bool WaitReadable(SocketHandle socket, int timeoutMs);

}  // namespace orvexa
