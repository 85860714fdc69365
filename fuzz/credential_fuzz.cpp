// Fuzzes the credential of the opening exchange with authentication on: the input is the
// token a client sends (at most 253 bytes, the rest dropped), checked against a fixed
// ES256 public key or a fixed HS256 secret (the first byte picks which, and the client
// kind). Hello must answer 0 or 4 and never crash, leak or read outside a buffer; the
// refusal also goes through the per-address bound.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "memory_session.h"
#include "protocol/request_session.h"
#include "sessions/token_verifier.h"
#include "transport/connection_closed.h"
#include "transport/hello_failure_bound.h"

namespace {

// The public half of the key that signed the corpus's ES256 token.
const char kPublicKey[] =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAElAigioY+feWZ8lRnuk9MVzPIU1wR\n"
    "+LDJe9FXxwC4BPICzXgMUVA95r6+l4FudJaR+WAzCQsHkuRxzKJ8x4qnpA==\n"
    "-----END PUBLIC KEY-----\n";
const char kSecret[] = "0123456789abcdef0123456789abcdef";

const orvexa::TokenVerifier& Verifier(bool es256) {
  static const std::array<std::unique_ptr<orvexa::TokenVerifier>, 2> verifiers = [] {
    std::string error;
    auto hs = orvexa::TokenVerifier::FromKey(kSecret, {"lab-7", 30}, &error);
    auto es = orvexa::TokenVerifier::FromKey(kPublicKey, {"", 30}, &error);
    if (!hs || !es) __builtin_trap();
    return std::array<std::unique_ptr<orvexa::TokenVerifier>, 2>{std::move(hs), std::move(es)};
  }();
  return *verifiers[es256 ? 1 : 0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  std::string token(reinterpret_cast<const char*>(data + 1), size - 1);
  if (token.size() > 253) token.resize(253);
  std::string hello = {0, 100, static_cast<char>((control & 0x02) ? 3 : 1),
                       static_cast<char>(token.size() >> 8), static_cast<char>(token.size())};
  hello += token;

  static orvexa::HelloFailureBound failures;
  orvexa::ServingEnvironment env;
  env.tokens = &Verifier(control & 0x01);
  env.allowAnonymousObservers = control & 0x04;
  env.failures = &failures;
  MemorySession session(env, hello, 1 << 20);
  orvexa::RequestContext& context = session.context;
  context.clientAddress = {10, 0, control, 1};
  context.peerAddress = context.clientAddress;
  try {
    orvexa::Hello(context);
  } catch (const orvexa::ConnectionClosed&) {
  }
  return 0;
}
