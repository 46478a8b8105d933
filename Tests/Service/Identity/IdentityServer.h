// The identity provider served over TLS by a real HTTPS server on loopback,
// with a certificate from the service's own generator, and the small OAuth
// client steps the tests repeat (PKCE pair, authorize address, code exchange).
#pragma once

#include "Crypto/ServiceCertificates.h"
#include "Dispatch/Clock.h"
#include "Identity/FormCodec.h"
#include "Identity/IdentityProvider.h"
#include "Support/ServiceClient.h"
#include "Support/TempDir.h"

#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class SSLServer;
} // namespace httplib

namespace orvex::service::test {

inline constexpr const char* kIssuerHost = "login.orvex.example";
inline constexpr const char* kIssuer = "https://login.orvex.example";
inline constexpr const char* kLoginRedirect = "com.orvex.macclient:/oauth2callback";
inline constexpr const char* kLogoutRedirect = "com.orvex.macclient:/signout-callback-oidc";

ServiceUser alice();
ServiceUser bob();

// A PKCE verifier and its S256 challenge.
struct Pkce {
  std::string verifier;
  std::string challenge;
};
Pkce makePkce();

// The query parameters of a redirect's Location.
FormParameters redirectParameters(const orvex::test::HttpReply& reply);

// Starts on an ephemeral port in the constructor, stops in the destructor.
class IdentityServer {
 public:
  explicit IdentityServer(std::vector<ServiceUser> users, bool autoApprove = false,
                          std::chrono::seconds accessLifetime = std::chrono::seconds(30));
  ~IdentityServer();

  orvex::ManualClock clock;
  IdentityProvider provider;

  orvex::test::HttpReply get(const std::string& target);
  // A form POST; `basic` is the "Authorization" value, none when empty.
  orvex::test::HttpReply postForm(const std::string& path, const std::string& body, const std::string& basic = "");

  // authorize's target: the client's usual parameters, changed or removed
  // (value "") by `changes`.
  static std::string authorizeTarget(const Pkce& pkce, const std::map<std::string, std::string>& changes = {});
  // The client's token request for `code`, authenticated as the registered client.
  orvex::test::HttpReply exchange(const std::string& code, const std::string& verifier,
                                  const std::string& redirect = kLoginRedirect);
  orvex::test::HttpReply refresh(const std::string& refreshToken, const std::string& extra = "");
  // A code for the only user by auto-approve, or "" when none came.
  std::string codeFor(const Pkce& pkce);

  const TlsMaterial& tls() const { return tls_; }

 private:
  orvex::test::TempDir folder_;
  TlsMaterial tls_;
  std::unique_ptr<httplib::SSLServer> server_;
  std::thread thread_;
  std::unique_ptr<orvex::test::ServiceClient> client_;
};

std::string basicAuthorization(const std::string& id, const std::string& secret);

} // namespace orvex::service::test
