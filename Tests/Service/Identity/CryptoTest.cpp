// The service's crypto: strict base64url, RS256 JWTs that refuse every other
// algorithm, JWK round trips, and TLS material a client can verify.
#include "Crypto/Base64Url.h"
#include "Crypto/Digest.h"
#include "Crypto/Jwt.h"
#include "Crypto/ServiceCertificates.h"
#include "Support/TempDir.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

namespace orvex::service {
namespace {

TEST(ServiceCrypto, Base64UrlIsStrict) {
  EXPECT_EQ(base64UrlEncode(""), "");
  EXPECT_EQ(base64UrlEncode("\xfb\xff"), "-_8");
  EXPECT_EQ(base64UrlDecode("-_8"), "\xfb\xff");
  std::string all;
  for (int i = 0; i < 256; ++i)
    all.push_back(static_cast<char>(i));
  EXPECT_EQ(base64UrlDecode(base64UrlEncode(all)), all);

  for (const char* bad : {"-_8=", "+/8", "a", "abcde", "ab c", "-_9"})
    EXPECT_FALSE(base64UrlDecode(bad)) << bad;

  EXPECT_EQ(base64Decode("b3J2ZXgubWFjY2xpZW50Omtxem12dw=="), "orvex.macclient:kqzmvw");
  EXPECT_EQ(base64Decode("+/8="), "\xfb\xff");
  for (const char* bad : {"-_8=", "+/8", "=abc", "a=bc"})
    EXPECT_FALSE(base64Decode(bad)) << bad;
}

TEST(ServiceCrypto, Sha256AndRandomTokens) {
  EXPECT_EQ(base64UrlEncode(sha256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk")),
            "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  EXPECT_EQ(randomToken().size(), 43u);
  EXPECT_NE(randomToken(), randomToken());
}

std::string part(const nlohmann::json& json) {
  return base64UrlEncode(json.dump());
}

TEST(ServiceCrypto, JwtAcceptsOnlyRs256FromItsKey) {
  RsaKey key = RsaKey::generate();
  nlohmann::json claims = {{"sub", "alice"}};
  std::string token = signJwt(claims, key, "at+jwt");
  EXPECT_EQ(verifyJwt(token, key, "at+jwt"), claims);
  EXPECT_FALSE(verifyJwt(token, key, "JWT"));
  EXPECT_FALSE(verifyJwt(token, RsaKey::generate(), "at+jwt"));

  std::string payload = part(claims);
  std::string signature = token.substr(token.rfind('.') + 1);
  for (const nlohmann::json& header : {
           nlohmann::json{{"alg", "none"}, {"typ", "at+jwt"}, {"kid", key.keyId()}},
           nlohmann::json{{"alg", "HS256"}, {"typ", "at+jwt"}, {"kid", key.keyId()}},
           nlohmann::json{{"alg", "rs256"}, {"typ", "at+jwt"}, {"kid", key.keyId()}},
           nlohmann::json{{"typ", "at+jwt"}, {"kid", key.keyId()}},
       }) {
    EXPECT_FALSE(verifyJwt(part(header) + "." + payload + ".", key, "at+jwt")) << header;
    EXPECT_FALSE(verifyJwt(part(header) + "." + payload + "." + signature, key, "at+jwt")) << header;
  }
  std::string header = token.substr(0, token.find('.'));
  EXPECT_FALSE(verifyJwt(header + "." + part({{"sub", "mallory"}}) + "." + signature, key, "at+jwt"));
  EXPECT_FALSE(verifyJwt(header + "." + payload, key, "at+jwt"));
  EXPECT_FALSE(verifyJwt(token + ".", key, "at+jwt"));
}

TEST(ServiceCrypto, JwkCarriesThePublicKey) {
  RsaKey key = RsaKey::generate();
  nlohmann::json jwk = key.publicJwk();
  EXPECT_EQ(jwk["kty"], "RSA");
  EXPECT_EQ(jwk["e"], "AQAB");
  EXPECT_EQ(jwk["kid"], key.keyId());
  auto publicKey = RsaKey::fromJwk(jwk);
  ASSERT_TRUE(publicKey);
  EXPECT_FALSE(publicKey->hasPrivateKey());
  EXPECT_EQ(publicKey->keyId(), key.keyId());
  EXPECT_TRUE(verifyJwt(signJwt({{"a", 1}}, key), *publicKey));
  EXPECT_THROW(signJwt({{"a", 1}}, *publicKey), std::runtime_error);

  EXPECT_FALSE(RsaKey::fromJwk({{"kty", "EC"}, {"n", jwk["n"]}, {"e", "AQAB"}}));
  EXPECT_FALSE(RsaKey::fromJwk({{"kty", "RSA"}, {"n", "not base64!"}, {"e", "AQAB"}}));
  EXPECT_FALSE(RsaKey::fromJwk({{"kty", "RSA"}, {"e", "AQAB"}}));
}

struct X509Free {
  void operator()(X509* cert) const { X509_free(cert); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

Certificate readCertificate(const std::string& pem) {
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  Certificate cert(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  return cert;
}

bool chainVerifies(X509* ca, X509* server) {
  X509_STORE* store = X509_STORE_new();
  X509_STORE_add_cert(store, ca);
  X509_STORE_CTX* context = X509_STORE_CTX_new();
  X509_STORE_CTX_init(context, store, server, nullptr);
  X509_STORE_CTX_set_purpose(context, X509_PURPOSE_SSL_SERVER);
  bool good = X509_verify_cert(context) == 1;
  X509_STORE_CTX_free(context);
  X509_STORE_free(store);
  return good;
}

TEST(ServiceCrypto, ServerCertificateCoversEveryHostAndLoopback) {
  TlsMaterial material = generateTlsMaterial({"login.orvex.example", "*.partner.example", "login.orvex.example"});
  Certificate ca = readCertificate(material.caCertificatePem);
  Certificate server = readCertificate(material.serverCertificatePem);
  ASSERT_TRUE(ca && server);
  EXPECT_TRUE(chainVerifies(ca.get(), server.get()));
  EXPECT_FALSE(chainVerifies(readCertificate(generateTlsMaterial({}).caCertificatePem).get(), server.get()));

  for (const char* host : {"login.orvex.example", "files.partner.example"}) {
    EXPECT_EQ(X509_check_host(server.get(), host, 0, 0, nullptr), 1) << host;
  }
  for (const char* host : {"orvex.example", "a.b.partner.example", "evil.example"}) {
    EXPECT_NE(X509_check_host(server.get(), host, 0, 0, nullptr), 1) << host;
  }
  EXPECT_EQ(X509_check_ip_asc(server.get(), "127.0.0.1", 0), 1);

  EXPECT_THROW(generateTlsMaterial({"a.example,DNS:evil.example"}), std::runtime_error);
  EXPECT_THROW(generateTlsMaterial({""}), std::runtime_error);
}

TEST(ServiceCrypto, TlsMaterialIsWrittenWithAPrivateKeyFile) {
  orvex::test::TempDir folder;
  TlsMaterial material = generateTlsMaterial({"login.orvex.example"});
  auto ca = writeTlsMaterial(material, folder / "tls");
  EXPECT_EQ(ca, folder / "tls" / "ca.pem");
  EXPECT_EQ(orvex::test::readFile(ca), material.caCertificatePem);
  EXPECT_EQ(orvex::test::readFile(folder / "tls" / "server-key.pem"), material.serverKeyPem);
  struct stat info {};
  ASSERT_EQ(stat((folder / "tls" / "server-key.pem").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

} // namespace
} // namespace orvex::service
