#include "sessions/token_verifier.h"

#include <jwt.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

#include "platform/file_system.h"

namespace orvexa {
namespace {

constexpr std::string_view kPublicKeyBegin = "-----BEGIN PUBLIC KEY-----";

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using KeyPointer = std::unique_ptr<EVP_PKEY, KeyFree>;

// The P-256 public key of a PEM text; null for anything else.
KeyPointer P256PublicKey(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (bio == nullptr) return nullptr;
  KeyPointer key(PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  if (!key) return nullptr;
  char group[64] = {};
  size_t length = 0;
  if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_EC ||
      EVP_PKEY_get_group_name(key.get(), group, sizeof group, &length) != 1 ||
      std::strcmp(group, "prime256v1") != 0)
    return nullptr;
  return key;
}

// Base64url without padding (RFC 7515) into bytes; false for any other character.
bool DecodeBase64Url(std::string_view text, std::string* bytes) {
  std::string standard(text);
  for (char& ch : standard) {
    if (ch == '-')
      ch = '+';
    else if (ch == '_')
      ch = '/';
    else if (ch == '+' || ch == '/' || ch == '=')
      return false;
  }
  size_t padding = 0;
  while (standard.size() % 4 != 0) {
    standard += '=';
    ++padding;
  }
  if (padding == 3) return false;
  bytes->assign(standard.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes->data()),
                                     reinterpret_cast<const unsigned char*>(standard.data()),
                                     static_cast<int>(standard.size()));
  if (length < 0) return false;
  bytes->resize(static_cast<size_t>(length) - padding);
  return true;
}

// A claim that must be an integer; false when it is missing or of another type.
bool IntegerClaim(jwt_t* token, const char* name, int64_t* value) {
  errno = 0;
  long v = jwt_get_grant_int(token, name);
  if (errno != 0) return false;
  *value = v;
  return true;
}

struct TokenHolder {
  jwt_t* token = nullptr;
  ~TokenHolder() {
    if (token) jwt_free(token);
  }
};

}  // namespace

struct TokenVerifier::PublicKey {
  KeyPointer key;
  EVP_MD* sha256 = nullptr;  // fetched once: a fetch per check costs a lookup
  ~PublicKey() { EVP_MD_free(sha256); }
};

TokenVerifier::TokenVerifier(std::string key, Algorithm algorithm, const Options& options)
    : key_(std::move(key)), algorithm_(algorithm), options_(options) {}

TokenVerifier::~TokenVerifier() = default;

bool TokenVerifier::Es256SignatureValid(std::string_view token) const {
  const size_t dot = token.rfind('.');
  std::string raw;
  // A JWS ECDSA P-256 signature is R and S, 32 bytes each; OpenSSL wants them as DER.
  if (dot == std::string_view::npos || !DecodeBase64Url(token.substr(dot + 1), &raw) ||
      raw.size() != 64)
    return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
  ECDSA_SIG* signature = ECDSA_SIG_new();
  BIGNUM* r = BN_bin2bn(bytes, 32, nullptr);
  BIGNUM* s = BN_bin2bn(bytes + 32, 32, nullptr);
  if (signature == nullptr || r == nullptr || s == nullptr ||
      ECDSA_SIG_set0(signature, r, s) != 1) {
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(signature);
    return false;
  }
  unsigned char* der = nullptr;
  const int derLength = i2d_ECDSA_SIG(signature, &der);
  ECDSA_SIG_free(signature);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  const bool valid =
      derLength > 0 && context != nullptr &&
      EVP_DigestVerifyInit(context, nullptr, publicKey_->sha256, nullptr, publicKey_->key.get()) ==
          1 &&
      EVP_DigestVerify(context, der, static_cast<size_t>(derLength),
                       reinterpret_cast<const unsigned char*>(token.data()), dot) == 1;
  EVP_MD_CTX_free(context);
  OPENSSL_free(der);
  return valid;
}

std::string TokenVerifier::SafeSubject(std::string_view subject) {
  std::string safe;
  for (char ch : subject.substr(0, 64)) {
    const bool printable = ch >= 0x20 && ch < 0x7f && ch != '"' && ch != '\\';
    safe += printable ? ch : '?';
  }
  return safe;
}

std::string TokenVerifier::SecretOf(std::string fileText) {
  while (!fileText.empty() && (fileText.back() == '\n' || fileText.back() == '\r'))
    fileText.pop_back();
  return fileText;
}

bool TokenVerifier::IsPrivateKey(const std::string& keyText) {
  return keyText.find("PRIVATE KEY-----") != std::string::npos;
}

bool TokenVerifier::IsPublicKey(const std::string& keyText) {
  return keyText.find(kPublicKeyBegin) != std::string::npos;
}

std::unique_ptr<TokenVerifier> TokenVerifier::Load(const std::string& path, const Options& options,
                                                   std::string* error) {
  IoResult readError;
  std::optional<std::string> text = ReadWholeFile(path, &readError);
  if (!text) {
    *error = "AuthKeyFile cannot be read: " + readError.message;
    return nullptr;
  }
  std::unique_ptr<TokenVerifier> verifier = FromKey(std::move(*text), options, error);
  if (verifier && verifier->algorithm_ == Algorithm::kHS256 && ReadableByOthers(path)) {
    *error = "AuthKeyFile " + path +
             " holds a shared secret that others than its owner may read (chmod 600 it)";
    return nullptr;
  }
  return verifier;
}

std::unique_ptr<TokenVerifier> TokenVerifier::FromKey(std::string key, const Options& options,
                                                      std::string* error) {
  if (IsPrivateKey(key)) {
    *error = "AuthKeyFile holds a private key; give the server the public key only";
    return nullptr;
  }
  if (IsPublicKey(key)) {
    auto publicKey = std::make_shared<PublicKey>();
    publicKey->key = P256PublicKey(key);
    publicKey->sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (!publicKey->key || publicKey->sha256 == nullptr) {
      *error = "AuthKeyFile is not a P-256 (ES256) public key";
      return nullptr;
    }
    std::unique_ptr<TokenVerifier> verifier(new TokenVerifier(key, Algorithm::kES256, options));
    verifier->publicKey_ = std::move(publicKey);
    return verifier;
  }
  key = SecretOf(std::move(key));
  if (key.size() < kMinSecretBytes) {
    *error = "AuthKeyFile holds a shared secret shorter than " + std::to_string(kMinSecretBytes) +
             " bytes";
    return nullptr;
  }
  return std::unique_ptr<TokenVerifier>(new TokenVerifier(key, Algorithm::kHS256, options));
}

TokenCheck TokenVerifier::Verify(std::string_view credential, int64_t now) const {
  TokenCheck check;
  auto refuse = [&check](const char* reason) {
    check.reason = reason;
    return check;
  };
  if (credential.empty()) return refuse("no token");
  const std::string text(credential);  // libjwt wants a terminated string
  TokenHolder holder;
  const bool es256 = algorithm_ == Algorithm::kES256;
  // ES256: parsed only (no key given, libjwt checks nothing), the signature below.
  // HS256: parsed and its HMAC checked by libjwt with the secret.
  const auto* key = es256 ? nullptr : reinterpret_cast<const unsigned char*>(key_.data());
  if (jwt_decode(&holder.token, text.c_str(), key, es256 ? 0 : static_cast<int>(key_.size())) !=
          0 ||
      holder.token == nullptr)
    return refuse("invalid token or signature");
  // libjwt takes the algorithm the token names; only the configured one counts (an HS256
  // token "signed" with the public key's text would pass the library's own check).
  // Without a key libjwt reports every token as unsigned: the header tells.
  const char* named = jwt_get_header(holder.token, "alg");
  if (named == nullptr || std::strcmp(named, es256 ? "ES256" : "HS256") != 0)
    return refuse("wrong algorithm");
  if (es256 && !Es256SignatureValid(credential)) return refuse("invalid token or signature");
  int64_t expires = 0;
  if (!IntegerClaim(holder.token, "exp", &expires)) return refuse("no expiry");
  // The end of the booking, clock skew included (a far-future `exp` saturates).
  int64_t end = 0;
  if (__builtin_add_overflow(expires, options_.leewaySeconds, &end))
    end = std::numeric_limits<int64_t>::max();
  if (now >= end) return refuse("token expired");
  int64_t notBefore = 0;
  if (IntegerClaim(holder.token, "nbf", &notBefore) && now + options_.leewaySeconds < notBefore)
    return refuse("token not yet valid");
  if (!options_.labId.empty()) {
    const char* audience = jwt_get_grant(holder.token, "aud");
    if (audience == nullptr || options_.labId != audience) return refuse("wrong audience");
  }
  const char* role = jwt_get_grant(holder.token, "role");
  if (role != nullptr && std::strcmp(role, "controller") == 0)
    check.role = TokenRole::kController;
  else if (role != nullptr && std::strcmp(role, "observer") == 0)
    check.role = TokenRole::kObserver;
  else
    return refuse("unknown role");
  const char* subject = jwt_get_grant(holder.token, "sub");
  check.subject = SafeSubject(subject != nullptr ? subject : "");
  check.expires = end;
  check.valid = true;
  return check;
}

}  // namespace orvexa
