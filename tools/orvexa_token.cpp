// orvexa-token: the operator's tool for signed reservation tokens. It creates keys (an
// ES256 key pair: the private key stays with whoever hands out tokens, the server gets
// the public one; or an HS256 shared secret for a small lab) and mints tokens with the
// claims the server checks (sub, role, exp, and optionally aud and nbf). Signing is
// libjwt's, key generation OpenSSL's. A single-threaded command-line program.
#include <jwt.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "sessions/token_verifier.h"

namespace {

constexpr size_t kCredentialLimit = 253;  // the longest string Hello reads

const char kUsage[] =
    "usage:\n"
    "  orvexa-token --key FILE --role controller|observer --sub USER [--minutes N]\n"
    "               [--seconds N] [--aud LABID] [--not-before MINUTES]\n"
    "      prints a token valid for N minutes (default 60) or seconds from now;\n"
    "      --not-before makes it valid only from that many minutes from now. FILE is an\n"
    "      ES256 private key (PEM) or an HS256 secret file.\n"
    "  orvexa-token --new-es256 PRIVATE.pem PUBLIC.pem\n"
    "      creates a P-256 key pair (the private key with mode 0600)\n"
    "  orvexa-token --new-hs256 SECRET\n"
    "      creates a random shared secret (mode 0600)\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "orvexa-token: %s\n", message.c_str());
  return 1;
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<size_t>(length));
}

int NewEs256(const std::string& privatePath, const std::string& publicPath) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (key == nullptr) return Fail("cannot create a P-256 key");
  BIO* privateBio = BIO_new(BIO_s_mem());
  BIO* publicBio = BIO_new(BIO_s_mem());
  const bool written =
      privateBio && publicBio &&
      PEM_write_bio_PrivateKey(privateBio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
      PEM_write_bio_PUBKEY(publicBio, key) == 1;
  std::string privateText = written ? BioText(privateBio) : "";
  std::string publicText = written ? BioText(publicBio) : "";
  BIO_free(privateBio);
  BIO_free(publicBio);
  EVP_PKEY_free(key);
  if (!written) return Fail("cannot write the key pair");
  orvexa::IoResult result = orvexa::WriteNewFile(privatePath, privateText, 0600);
  if (!result.ok) return Fail(result.message);
  result = orvexa::WriteNewFile(publicPath, publicText, 0644);
  if (!result.ok) return Fail(result.message);
  std::printf("private key (keep it with whoever hands out tokens): %s\n", privatePath.c_str());
  std::printf("public key (AuthKeyFile of the server): %s\n", publicPath.c_str());
  return 0;
}

int NewHs256(const std::string& path) {
  unsigned char random[32];
  if (RAND_bytes(random, sizeof random) != 1) return Fail("no random bytes");
  static const char kHex[] = "0123456789abcdef";
  std::string secret;
  for (unsigned char byte : random) {
    secret += kHex[byte >> 4];
    secret += kHex[byte & 15];
  }
  orvexa::IoResult result = orvexa::WriteNewFile(path, secret + "\n", 0600);
  if (!result.ok) return Fail(result.message);
  std::printf("shared secret (AuthKeyFile of the server and of the booking service): %s\n",
              path.c_str());
  return 0;
}

struct MintOptions {
  std::string keyPath;
  std::string role;
  std::string subject;
  long lifetimeSeconds = 3600;
  std::string audience;
  std::optional<long> notBeforeMinutes;
};

int Mint(const MintOptions& options) {
  if (options.role != "controller" && options.role != "observer")
    return Fail("--role must be controller or observer");
  orvexa::IoResult readError;
  std::optional<std::string> keyText = orvexa::ReadWholeFile(options.keyPath, &readError);
  if (!keyText) return Fail(readError.message);
  if (orvexa::TokenVerifier::IsPublicKey(*keyText))
    return Fail("a public key cannot sign: give the private key (or the shared secret)");
  const bool es256 = orvexa::TokenVerifier::IsPrivateKey(*keyText);
  const std::string key = es256 ? *keyText : orvexa::TokenVerifier::SecretOf(*keyText);
  jwt_t* token = nullptr;
  if (jwt_new(&token) != 0) return Fail("out of memory");
  const long now = static_cast<long>(std::time(nullptr));
  jwt_add_grant(token, "sub", options.subject.c_str());
  jwt_add_grant(token, "role", options.role.c_str());
  jwt_add_grant_int(token, "exp", now + options.lifetimeSeconds);
  if (options.notBeforeMinutes)
    jwt_add_grant_int(token, "nbf", now + *options.notBeforeMinutes * 60);
  if (!options.audience.empty()) jwt_add_grant(token, "aud", options.audience.c_str());
  char* text = nullptr;
  if (jwt_set_alg(token, es256 ? JWT_ALG_ES256 : JWT_ALG_HS256,
                  reinterpret_cast<const unsigned char*>(key.data()),
                  static_cast<int>(key.size())) == 0)
    text = jwt_encode_str(token);
  jwt_free(token);
  if (text == nullptr) return Fail("cannot sign with " + options.keyPath);
  const std::string minted = text;
  std::free(text);  // libjwt allocates with malloc
  if (minted.size() > kCredentialLimit)
    return Fail("the token has " + std::to_string(minted.size()) +
                " bytes, a client can send at most 253: shorten --sub or --aud");
  std::printf("%s\n", minted.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "--new-es256") return NewEs256(args[1], args[2]);
  if (args.size() == 2 && args[0] == "--new-hs256") return NewHs256(args[1]);
  MintOptions options;
  for (size_t i = 0; i + 1 < args.size(); i += 2) {
    const std::string& name = args[i];
    const std::string& value = args[i + 1];
    char* end = nullptr;
    if (name == "--key") {
      options.keyPath = value;
    } else if (name == "--role") {
      options.role = value;
    } else if (name == "--sub") {
      options.subject = value;
    } else if (name == "--aud") {
      options.audience = value;
    } else if (name == "--minutes" || name == "--seconds" || name == "--not-before") {
      long number = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0') return Fail(name + " needs a whole number");
      if (name == "--minutes")
        options.lifetimeSeconds = number * 60;
      else if (name == "--seconds")
        options.lifetimeSeconds = number;
      else
        options.notBeforeMinutes = number;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (args.size() % 2 != 0 || options.keyPath.empty() || options.role.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return Mint(options);
}
