#include "IdentityServer.h"

#include "Crypto/Base64Url.h"
#include "Crypto/Digest.h"

#include <httplib.h>

#include <openssl/evp.h>

#include <stdexcept>
#include <thread>

namespace orvex::service::test {

ServiceUser alice() {
  return {"alice@orvex.example", "wonderland", "orvex.example", {"partner.example"}, false, "Alice"};
}

ServiceUser bob() {
  return {"bob@orvex.example", "builder", "orvex.example", {"other.example"}, true, "Bob"};
}

Pkce makePkce() {
  std::string verifier = randomToken(48);
  return {verifier, base64UrlEncode(sha256(verifier))};
}

FormParameters redirectParameters(const orvex::test::HttpReply& reply) {
  auto parsed = parseForm(queryOf(reply.header("Location")));
  if (!parsed)
    throw std::runtime_error("malformed Location: " + reply.header("Location"));
  return *parsed;
}

std::string basicAuthorization(const std::string& id, const std::string& secret) {
  std::string credentials = id + ":" + secret;
  std::string encoded(4 * ((credentials.size() + 2) / 3) + 1, '\0');
  int length =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                      reinterpret_cast<const unsigned char*>(credentials.data()), static_cast<int>(credentials.size()));
  encoded.resize(static_cast<std::size_t>(length));
  return "Basic " + encoded;
}

IdentityServer::IdentityServer(std::vector<ServiceUser> users, bool autoApprove, std::chrono::seconds accessLifetime)
    : provider(IdentityConfig{kIssuer, accessLifetime, std::chrono::seconds(3600), autoApprove, std::nullopt},
               std::move(users), clock),
      tls_(generateTlsMaterial({kIssuerHost, "*.orvex.example"})) {
  writeTlsMaterial(tls_, folder_.path());
  server_ =
      std::make_unique<httplib::SSLServer>((folder_ / "server.pem").c_str(), (folder_ / "server-key.pem").c_str());
  auto serve = [this](const httplib::Request& request, httplib::Response& response) {
    if (!provider.handle(request, response))
      response.status = 404;
  };
  server_->Get(".*", serve);
  server_->Post(".*", serve);
  server_->Put(".*", serve);
  int port = server_->bind_to_any_port("127.0.0.1");
  if (port <= 0)
    throw std::runtime_error("cannot bind the test server");
  // Connections wait in the listen backlog until the loop below accepts them.
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() does nothing before the loop runs, so a test that ends at once would
  // leave it serving forever: return only once it runs.
  while (!server_->is_running())
    std::this_thread::yield();
  client_ = std::make_unique<orvex::test::ServiceClient>(static_cast<std::uint16_t>(port), tls_.caCertificatePem);
}

IdentityServer::~IdentityServer() {
  // Closing the client's kept-alive connection first lets the server's worker
  // finish at once instead of waiting out its keep-alive timeout.
  client_.reset();
  server_->stop();
  thread_.join();
}

orvex::test::HttpReply IdentityServer::get(const std::string& target) {
  return client_->get(kIssuerHost, target);
}

orvex::test::HttpReply IdentityServer::postForm(const std::string& path, const std::string& body,
                                                const std::string& basic) {
  orvex::test::HttpRequest request;
  request.method = "POST";
  request.host = kIssuerHost;
  request.target = path;
  request.body = body;
  request.headers = {"Content-Type: application/x-www-form-urlencoded"};
  if (!basic.empty())
    request.headers.push_back("Authorization: " + basic);
  return client_->send(request);
}

std::string IdentityServer::authorizeTarget(const Pkce& pkce, const std::map<std::string, std::string>& changes) {
  std::map<std::string, std::string> parameters = {
      {"client_id", "orvex.macclient"},
      {"redirect_uri", kLoginRedirect},
      {"response_type", "code"},
      {"scope", "openid profile domain_api offline_access"},
      {"state", "state-123"},
      {"nonce", "nonce-456"},
      {"code_challenge", pkce.challenge},
      {"code_challenge_method", "S256"},
      {"acr_values", "tenant:T localAuth:L deviceId:D deviceName:My Laptop deviceType:Linux deviceOs:Linux 6.1.0"},
  };
  for (const auto& [name, value] : changes)
    parameters[name] = value;
  std::vector<std::pair<std::string, std::string>> list(parameters.begin(), parameters.end());
  return appendQuery("/oauth2/authorize", list);
}

orvex::test::HttpReply IdentityServer::exchange(const std::string& code, const std::string& verifier,
                                                const std::string& redirect) {
  return postForm("/oauth2/token",
                  "grant_type=authorization_code&code=" + percentEncode(code) +
                      "&redirect_uri=" + percentEncode(redirect) + "&code_verifier=" + percentEncode(verifier),
                  basicAuthorization("orvex.macclient", "kqzmvw"));
}

orvex::test::HttpReply IdentityServer::refresh(const std::string& refreshToken, const std::string& extra) {
  return postForm("/oauth2/token", "grant_type=refresh_token&refresh_token=" + percentEncode(refreshToken) + extra,
                  basicAuthorization("orvex.macclient", "kqzmvw"));
}

std::string IdentityServer::codeFor(const Pkce& pkce) {
  auto reply = get(authorizeTarget(pkce));
  return reply.status == 302 ? redirectParameters(reply).get("code") : std::string();
}

} // namespace orvex::service::test
