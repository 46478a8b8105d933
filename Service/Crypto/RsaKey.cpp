#include "Crypto/RsaKey.h"

#include "Crypto/Base64Url.h"
#include "Crypto/Digest.h"
#include "Crypto/OpenSslHandles.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

namespace orvex::service {

namespace {

using detail::check;

std::string bignumBytes(const EVP_PKEY* key, const char* name) {
  BIGNUM* raw = nullptr;
  check(EVP_PKEY_get_bn_param(key, name, &raw) == 1, "RSA key parameter");
  detail::BignumPtr number(raw);
  std::string bytes(static_cast<std::size_t>(BN_num_bytes(number.get())), '\0');
  BN_bn2bin(number.get(), reinterpret_cast<unsigned char*>(bytes.data()));
  return bytes;
}

detail::BignumPtr bignumFrom(const std::string& bytes) {
  return detail::BignumPtr(
      BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()), nullptr));
}

std::optional<std::string> jwkMember(const nlohmann::json& jwk, const char* name) {
  auto it = jwk.find(name);
  if (it == jwk.end() || !it->is_string())
    return std::nullopt;
  auto bytes = base64UrlDecode(it->get<std::string>());
  if (!bytes || bytes->empty())
    return std::nullopt;
  return bytes;
}

} // namespace

RsaKey::RsaKey(std::shared_ptr<EVP_PKEY> key, bool hasPrivate)
    : key_(std::move(key)),
      hasPrivate_(hasPrivate),
      modulus_(bignumBytes(key_.get(), OSSL_PKEY_PARAM_RSA_N)),
      exponent_(bignumBytes(key_.get(), OSSL_PKEY_PARAM_RSA_E)) {
  // RFC 7638: the members in lexicographic order, no white space.
  std::string thumbprintInput =
      R"({"e":")" + base64UrlEncode(exponent_) + R"(","kty":"RSA","n":")" + base64UrlEncode(modulus_) + R"("})";
  keyId_ = base64UrlEncode(sha256(thumbprintInput));
}

RsaKey RsaKey::generate(int bits) {
  EVP_PKEY* raw = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits));
  check(raw != nullptr, "RSA key generation");
  return RsaKey(std::shared_ptr<EVP_PKEY>(raw, EVP_PKEY_free), true);
}

std::optional<RsaKey> RsaKey::fromJwk(const nlohmann::json& jwk) {
  if (!jwk.is_object() || jwk.value("kty", "") != "RSA")
    return std::nullopt;
  auto n = jwkMember(jwk, "n");
  auto e = jwkMember(jwk, "e");
  if (!n || !e)
    return std::nullopt;
  auto nNumber = bignumFrom(*n);
  auto eNumber = bignumFrom(*e);
  std::unique_ptr<OSSL_PARAM_BLD, detail::OpenSslFree<OSSL_PARAM_BLD_free>> builder(OSSL_PARAM_BLD_new());
  if (!nNumber || !eNumber || !builder ||
      OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, nNumber.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, eNumber.get()) != 1) {
    return std::nullopt;
  }
  std::unique_ptr<OSSL_PARAM, detail::OpenSslFree<OSSL_PARAM_free>> params(OSSL_PARAM_BLD_to_param(builder.get()));
  std::unique_ptr<EVP_PKEY_CTX, detail::OpenSslFree<EVP_PKEY_CTX_free>> context(
      EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* raw = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return std::nullopt;
  }
  return RsaKey(std::shared_ptr<EVP_PKEY>(raw, EVP_PKEY_free), false);
}

std::optional<RsaKey> RsaKey::fromPrivatePem(std::string_view pem) {
  detail::BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  // No password callback: a key asking for one is not ours and must not block on a prompt.
  detail::PKeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, const_cast<char*>("")) : nullptr);
  ERR_clear_error();
  if (!key || EVP_PKEY_is_a(key.get(), "RSA") != 1)
    return std::nullopt;
  return RsaKey(std::shared_ptr<EVP_PKEY>(key.release(), EVP_PKEY_free), true);
}

std::string RsaKey::privatePem() const {
  check(hasPrivate_, "writing out a public key as private");
  return detail::privateKeyPem(key_.get());
}

std::string RsaKey::signSha256(std::string_view data) const {
  check(hasPrivate_, "signing with a public key");
  detail::MdCtxPtr context(EVP_MD_CTX_new());
  check(context != nullptr, "signature context");
  check(EVP_DigestSignInit_ex(context.get(), nullptr, "SHA256", nullptr, nullptr, key_.get(), nullptr) == 1,
        "signature setup");
  std::size_t length = 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  check(EVP_DigestSign(context.get(), nullptr, &length, bytes, data.size()) == 1, "signature size");
  std::string signature(length, '\0');
  check(EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length, bytes,
                       data.size()) == 1,
        "signature");
  signature.resize(length);
  return signature;
}

bool RsaKey::verifySha256(std::string_view data, std::string_view signature) const {
  detail::MdCtxPtr context(EVP_MD_CTX_new());
  bool good = context &&
              EVP_DigestVerifyInit_ex(context.get(), nullptr, "SHA256", nullptr, nullptr, key_.get(), nullptr) == 1 &&
              EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                               signature.size(), reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
  // A bad signature queues an OpenSSL error; it is an answer here, not a failure.
  ERR_clear_error();
  return good;
}

nlohmann::json RsaKey::publicJwk() const {
  return {{"kty", "RSA"},
          {"use", "sig"},
          {"alg", "RS256"},
          {"kid", keyId_},
          {"n", base64UrlEncode(modulus_)},
          {"e", base64UrlEncode(exponent_)}};
}

} // namespace orvex::service
