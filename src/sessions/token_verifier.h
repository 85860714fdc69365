// Checks the signed reservation token a client hands over as the credential of its
// opening exchange (a compact JWT). The algorithm is fixed by the key the operator
// configured, never by the token: a PEM public key means ES256 (the booking service
// keeps the private key), any other key file is an HS256 shared secret. libjwt parses
// the token and checks HS256 signatures; an ES256 signature is checked by OpenSSL with
// the public key parsed once at start-up (libjwt would parse the PEM text again for every
// token, which costs several times the check itself). This class then checks the claims:
// `exp` (required) and `nbf` with a clock leeway, `aud` equal to the lab's id when one is
// set, `role` "controller" or "observer", and `sub`, the user shown in the audit log.
//
// Loaded once on the main thread at start-up; Verify is const and called from every
// connection's worker thread at once (libjwt and OpenSSL keep no shared state for it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace orvexa {

enum class TokenRole { kController, kObserver };

struct TokenCheck {
  bool valid = false;
  std::string reason;   // why it was refused (never the token itself)
  std::string subject;  // `sub`, made safe for an audit line
  TokenRole role = TokenRole::kObserver;
  int64_t expires = 0;  // `exp`, calendar seconds
};

class TokenVerifier {
 public:
  enum class Algorithm { kES256, kHS256 };

  // Shortest shared secret accepted (HS256): a guessable secret would let anybody mint.
  static constexpr size_t kMinSecretBytes = 32;

  struct Options {
    std::string labId;           // `aud` must equal it when not empty
    int32_t leewaySeconds = 30;  // clock skew allowed on `exp` and `nbf`
  };

  // Reads the key file. Null with `error` set when it cannot be read, holds a private
  // key (the server must not be able to mint), an unusable public key, a secret shorter
  // than kMinSecretBytes, or a secret that users other than the owner may read.
  static std::unique_ptr<TokenVerifier> Load(const std::string& path, const Options& options,
                                             std::string* error);
  // The same from the key's text (no file permission check).
  static std::unique_ptr<TokenVerifier> FromKey(std::string key, const Options& options,
                                                std::string* error);

  TokenCheck Verify(std::string_view credential, int64_t now) const;
  ~TokenVerifier();
  Algorithm algorithm() const { return algorithm_; }

  // The secret a shared-secret key file holds: its text without the line breaks that
  // end it. The signing tool reads a secret the same way.
  static std::string SecretOf(std::string fileText);
  // True for key text holding a PEM private key (never given to the server).
  static bool IsPrivateKey(const std::string& keyText);
  // True for key text holding a PEM public key.
  static bool IsPublicKey(const std::string& keyText);

  // Printable ASCII without quotes or backslashes, at most 64 bytes: what a `sub` may
  // put into an audit line or a client row.
  static std::string SafeSubject(std::string_view subject);

 private:
  struct PublicKey;  // the parsed ES256 key and the digest it is used with

  TokenVerifier(std::string key, Algorithm algorithm, const Options& options);
  // ES256: the signature (after the last dot) of the signing input (before it).
  bool Es256SignatureValid(std::string_view token) const;

  std::string key_;
  Algorithm algorithm_;
  Options options_;
  std::shared_ptr<const PublicKey> publicKey_;  // ES256 only
};

}  // namespace orvexa
