#include "transport/websocket_handshake.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/sha.h>
#include <strings.h>

#include <cctype>
#include <cstring>

#include "transport/connection_closed.h"

namespace orvexa {
namespace {

constexpr size_t kMaxHeaderPart = 999;
constexpr const char* kGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

bool IsSpace(uint8_t c) {
  return std::isspace(c) != 0;
}

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsSpace(static_cast<uint8_t>(text[begin]))) ++begin;
  while (end > begin && IsSpace(static_cast<uint8_t>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

bool EqualsNoCase(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

// True when one item of a comma-separated Connection value is "upgrade".
bool ListsUpgrade(const std::string& value) {
  size_t i = 0;
  while (i < value.size()) {
    while (i < value.size() && IsSpace(static_cast<uint8_t>(value[i]))) ++i;
    if (value.size() - i >= 7 && strncasecmp(value.data() + i, "upgrade", 7) == 0) {
      size_t after = i + 7;
      if (after == value.size() || value[after] == ',' ||
          IsSpace(static_cast<uint8_t>(value[after])))
        return true;
    }
    size_t comma = value.find(',', i);
    if (comma == std::string::npos) break;
    i = comma + 1;
  }
  return false;
}

}  // namespace

std::string WebSocketHandshake::AcceptValue(const std::string& key) {
  std::string encoded;
  CryptoPP::SHA1 hash;
  CryptoPP::StringSource source(
      key + kGuid, true,
      new CryptoPP::HashFilter(
          hash, new CryptoPP::Base64Encoder(new CryptoPP::StringSink(encoded), false)));
  while (encoded.size() % 4 != 0) encoded += '=';
  return encoded;
}

uint8_t WebSocketHandshake::PeekByte() {
  return *raw_.Require(1);
}

uint8_t WebSocketHandshake::NextByte() {
  uint8_t c = *raw_.Require(1);
  raw_.Consume(1);
  return c;
}

void WebSocketHandshake::ReadLineEnd() {
  uint8_t c = NextByte();
  if (c == '\r') c = NextByte();
  if (c != '\n') ThrowTransportError(0);
}

void WebSocketHandshake::ReadRequestLine() {
  if (std::memcmp(raw_.Require(4), "GET ", 4) != 0) ThrowTransportError(0);
  raw_.Consume(4);
  // The request target is skipped without any test.
  size_t targetLength = 0;
  while (!IsSpace(PeekByte())) {
    raw_.Consume(1);
    ++targetLength;
  }
  if (targetLength == 0) ThrowTransportError(0);
  size_t spaces = 0;
  while (IsSpace(PeekByte())) {
    raw_.Consume(1);
    ++spaces;
  }
  if (spaces == 0) ThrowTransportError(0);
  if (std::memcmp(raw_.Require(7), "HTTP/1.", 7) != 0) ThrowTransportError(0);
  raw_.Consume(7);
  unsigned long minor = 0;
  size_t digits = 0;
  while (std::isdigit(PeekByte())) {
    minor = minor * 10 + (NextByte() - '0');
    ++digits;
    // A further digit can only make it larger: an endless digit run ends here.
    if (minor > 1000) ThrowTransportError(0);
  }
  if (digits == 0 || minor < 1) ThrowTransportError(0);
  ReadLineEnd();
}

bool WebSocketHandshake::ReadHeader(std::string& name, std::string& value) {
  uint8_t c = PeekByte();
  if (c == '\r' || c == '\n') {
    ReadLineEnd();
    return false;
  }
  name.clear();
  for (;;) {
    c = NextByte();
    if (c == ':') break;
    if (c == '\r' || c == '\n') ThrowTransportError(0);
    if (name.size() >= kMaxHeaderPart) ThrowTransportError(0);
    name += static_cast<char>(c);
  }
  value.clear();
  for (;;) {
    c = PeekByte();
    if (c == '\r' || c == '\n') break;
    if (value.size() >= kMaxHeaderPart) ThrowTransportError(0);
    value += static_cast<char>(c);
    raw_.Consume(1);
  }
  ReadLineEnd();
  name = Trim(name);
  value = Trim(value);
  return true;
}

void WebSocketHandshake::ApplyHeader(const std::string& name, const std::string& value) {
  if (EqualsNoCase(name, "Upgrade")) {
    if (EqualsNoCase(value, "websocket")) upgrade_ = true;
  } else if (EqualsNoCase(name, "Connection")) {
    if (ListsUpgrade(value)) connectionUpgrade_ = true;
  } else if (EqualsNoCase(name, "Sec-WebSocket-Version")) {
    if (value != "13") {
      Answer("HTTP/1.1 426 Upgrade Required\r\nSec-WebSocket-Version: 13\r\n\r\n");
      ThrowTransportError(0);
    }
    version_ = true;
  } else if (EqualsNoCase(name, "Sec-WebSocket-Key")) {
    key_ = value;
  } else if (EqualsNoCase(name, "X-Real-IP")) {
    std::optional<HostAddress> address = HostAddress::Parse(value);
    if (address && !address->IsUnspecified()) realIp_ = address;
  }
}

void WebSocketHandshake::Answer(const std::string& text) {
  connection_.SendAll(text.data(), text.size());
}

void WebSocketHandshake::Perform() {
  ReadRequestLine();
  std::string name, value;
  while (ReadHeader(name, value)) ApplyHeader(name, value);
  if (!upgrade_ || !connectionUpgrade_ || !version_ || key_.empty()) {
    Answer("HTTP/1.1 400 Bad Request\r\n\r\n");
    ThrowTransportError(0);
  }
  Answer(
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: "
      "Upgrade\r\nSec-WebSocket-Accept: " +
      AcceptValue(key_) + "\r\n\r\n");
}

}  // namespace orvexa
