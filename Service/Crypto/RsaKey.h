// An RSA key for RS256 signatures: the provider's signing key (private and
// public) or a key read back from a published JWK (public only).
#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

typedef struct evp_pkey_st EVP_PKEY;

namespace orvex::service {

// Immutable after construction; copies share the key. Safe to use from any
// number of threads at once (each operation uses its own OpenSSL context).
class RsaKey {
 public:
  // A fresh key pair. Throws std::runtime_error.
  static RsaKey generate(int bits = 2048);
  // The public key of a JWK object with "kty" "RSA" and base64url "n" and "e";
  // nullopt when any of them is missing or malformed.
  static std::optional<RsaKey> fromJwk(const nlohmann::json& jwk);
  // The key pair of an unencrypted PEM private key (PKCS#8 or PKCS#1); nullopt
  // when the text is not one or holds a key other than RSA.
  static std::optional<RsaKey> fromPrivatePem(std::string_view pem);

  bool hasPrivateKey() const { return hasPrivate_; }
  // The RFC 7638 thumbprint of the public key; stable for one key, so it can
  // name the key in a JWT header and in the key set.
  const std::string& keyId() const { return keyId_; }

  // The RSASSA-PKCS1-v1_5 SHA-256 signature of `data`. Throws std::runtime_error,
  // also when this is a public key only.
  std::string signSha256(std::string_view data) const;
  bool verifySha256(std::string_view data, std::string_view signature) const;

  // The public half as a JWK: kty, n, e, kid, alg "RS256", use "sig".
  nlohmann::json publicJwk() const;
  // The private key as unencrypted PKCS#8 PEM, for keeping it across restarts.
  // Throws std::runtime_error when this is a public key only.
  std::string privatePem() const;

 private:
  RsaKey(std::shared_ptr<EVP_PKEY> key, bool hasPrivate);

  std::shared_ptr<EVP_PKEY> key_;
  bool hasPrivate_ = false;
  std::string modulus_;  // big-endian bytes of n
  std::string exponent_; // big-endian bytes of e
  std::string keyId_;
};

} // namespace orvex::service
