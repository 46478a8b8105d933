#include "Identity/IdentityProvider.h"

#include "Crypto/Digest.h"
#include "Crypto/Jwt.h"
#include "Identity/AsciiCase.h"
#include "Identity/FormCodec.h"
#include "Identity/IdentityFiles.h"
#include "Identity/IdentityState.h"
#include "Identity/OAuthReplies.h"
#include "Identity/RegisteredClient.h"
#include "Identity/Scopes.h"
#include "OVLogger.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>

namespace orvex::service {

namespace {

nlohmann::json domainsClaim(const ServiceUser& user) {
  // A user configured for the single-text form gets one domain, as older
  // tokens carried it; the client reads that text as one domain.
  if (user.domainsAsText)
    return user.domains.empty() ? std::string() : user.domains.front();
  return user.domains;
}

std::optional<std::vector<std::string>> readDomains(const nlohmann::json& claims) {
  auto it = claims.find("domains");
  if (it == claims.end())
    return std::vector<std::string>{};
  if (it->is_string())
    return std::vector<std::string>{it->get<std::string>()};
  if (!it->is_array() || !std::all_of(it->begin(), it->end(), [](const auto& d) { return d.is_string(); })) {
    return std::nullopt;
  }
  return it->get<std::vector<std::string>>();
}

template <class T>
std::optional<T> member(const nlohmann::json& object, const char* name) {
  auto it = object.find(name);
  if (it == object.end())
    return std::nullopt;
  if constexpr (std::is_same_v<T, std::string>) {
    if (!it->is_string())
      return std::nullopt;
  } else {
    if (!it->is_number_integer())
      return std::nullopt;
  }
  return it->get<T>();
}

// Paths answer one method, or GET and POST where a browser may use either.
bool methodAllowed(const httplib::Request& request, bool postToo, bool getToo = true) {
  return (getToo && request.method == "GET") || (postToo && request.method == "POST");
}

} // namespace

bool AccessClaims::allowsDomain(std::string_view domain) const {
  return equalsIgnoringCase(primaryDomain, domain) ||
         std::any_of(domains.begin(), domains.end(), [&](const auto& d) { return equalsIgnoringCase(d, domain); });
}

IdentityProvider::IdentityProvider(IdentityConfig config, std::vector<ServiceUser> users, orvex::Clock& clock)
    : config_(std::move(config)),
      clock_(clock),
      files_(config_.keptIn ? std::make_unique<IdentityFiles>(*config_.keptIn, clock) : nullptr),
      key_(files_ ? files_->signingKey() : RsaKey::generate()),
      state_(std::make_unique<IdentityState>(std::move(users), config_.autoApprove)) {
  if (files_)
    keepTokens();
}

void IdentityProvider::keepTokens() {
  if (auto kept = files_->keptTokens(); kept && !state_->restoreTokens(*kept))
    files_->setTokensAside("does not hold token records");
  // The saver runs under the state's mutex, which also orders the writes.
  state_->setTokenSaver([files = files_.get()](const nlohmann::json& tokens) { files->saveTokens(tokens); });
}

IdentityProvider::~IdentityProvider() = default;

std::int64_t IdentityProvider::now() const {
  return std::chrono::duration_cast<std::chrono::seconds>(clock_.wallNow().time_since_epoch()).count();
}

bool IdentityProvider::handle(const httplib::Request& request, httplib::Response& response) {
  const std::string& path = request.path;
  bool known = path == kDiscoveryPath || path == kJwksPath || path == kAuthorizePath || path == kLoginPath ||
               path == kTokenPath || path == kEndSessionPath;
  if (!known)
    return false;
  // Nothing may unwind into the HTTP server's worker; a failure is this
  // request's alone.
  try {
    route(request, response);
    // The HTTP server would default it, but a caller dispatching by hand reads it.
    if (response.status == -1)
      response.status = 200;
  } catch (const std::exception& error) {
    OVLog(kLogMain, "Error! Identity provider failed on {} {}: {}", request.method, path, error.what());
    response = httplib::Response();
    replyPage(response, 500, "Server error", "The sign-in service failed. Try again.");
  }
  return true;
}

void IdentityProvider::route(const httplib::Request& request, httplib::Response& response) {
  const std::string& path = request.path;
  bool browserPath = path == kAuthorizePath || path == kEndSessionPath;
  bool postOnly = path == kTokenPath || path == kLoginPath;
  if (!methodAllowed(request, browserPath || postOnly, !postOnly)) {
    return replyMethodNotAllowed(response, postOnly ? "POST" : browserPath ? "GET, POST" : "GET");
  }
  if (path == kDiscoveryPath)
    return serveDiscovery(response);
  if (path == kJwksPath)
    return replyJson(response, nlohmann::json::parse(jwksJson()));
  if (path == kTokenPath)
    return serveToken(request, response);
  if (path == kLoginPath)
    return serveLogin(request, response);
  // Browsers send these as a query, or as a form when the client posts them.
  auto parameters = parseForm(request.method == "POST" ? std::string_view(request.body) : queryOf(request.target));
  if (!parameters)
    return replyPage(response, 400, "Bad request", "The request's parameters are not properly encoded.");
  if (path == kAuthorizePath)
    return serveAuthorize(*parameters, response);
  serveEndSession(*parameters, response);
}

std::optional<AccessClaims> IdentityProvider::verifyAccessToken(std::string_view token) const {
  auto claims = verifyJwt(token, key_, "at+jwt");
  if (!claims)
    return std::nullopt;
  auto subject = member<std::string>(*claims, "sub");
  auto jti = member<std::string>(*claims, "jti");
  auto issuedAt = member<std::int64_t>(*claims, "iat");
  auto expiresAt = member<std::int64_t>(*claims, "exp");
  auto domains = readDomains(*claims);
  if (member<std::string>(*claims, "iss") != config_.issuer || member<std::string>(*claims, "aud") != kApiAudience ||
      !subject || !jti || !issuedAt || !expiresAt || !domains || now() >= *expiresAt ||
      !state_->isAccessTokenLive(*jti, *subject)) {
    return std::nullopt;
  }
  return AccessClaims{*subject, member<std::string>(*claims, "primary_domain").value_or(""), std::move(*domains),
                      *issuedAt, *expiresAt};
}

TokenSet IdentityProvider::mintTokens(const ServiceUser& user, const Grant& grant, bool withNonce) {
  std::int64_t issuedAt = now();
  std::int64_t expiresIn = config_.accessTokenLifetime.count();
  std::string jti = randomToken(16);
  nlohmann::json access = {{"iss", config_.issuer},
                           {"sub", user.email},
                           {"aud", kApiAudience},
                           {"client_id", kClientId},
                           {"scope", grant.scope},
                           {"iat", issuedAt},
                           {"nbf", issuedAt},
                           {"exp", issuedAt + expiresIn},
                           {"jti", jti},
                           {"primary_domain", user.primaryDomain},
                           {"domains", domainsClaim(user)},
                           {"email", user.email}};
  TokenSet tokens;
  tokens.accessToken = signJwt(access, key_, "at+jwt");
  tokens.expiresIn = expiresIn;
  state_->recordAccessToken(jti, grant, issuedAt, issuedAt + expiresIn);

  if (hasScope(grant.scope, "openid")) {
    nlohmann::json id = {{"iss", config_.issuer},
                         {"sub", user.email},
                         {"aud", kClientId},
                         {"iat", issuedAt},
                         {"exp", issuedAt + expiresIn},
                         {"auth_time", grant.authTime},
                         {"email", user.email},
                         {"name", user.displayName.empty() ? user.email : user.displayName}};
    if (withNonce && !grant.nonce.empty())
      id["nonce"] = grant.nonce;
    tokens.idToken = signJwt(id, key_, "JWT");
  }
  if (hasScope(grant.scope, "offline_access")) {
    tokens.refreshToken = state_->storeRefreshToken(grant, issuedAt + config_.refreshTokenLifetime.count());
  }
  return tokens;
}

std::optional<TokenSet> IdentityProvider::issueTokens(const std::string& email) {
  auto user = state_->findUser(email);
  if (!user)
    return std::nullopt;
  return mintTokens(*user, state_->newGrant(user->email, std::string(kAllScopes), "", now()), false);
}

void IdentityProvider::revokeTokensOf(const std::string& email) {
  state_->revokeUser(email);
}
void IdentityProvider::expireAccessTokens() {
  state_->expireAccessTokens();
}
std::optional<std::string> IdentityProvider::lastAcrValues() const {
  return state_->lastAcrValues();
}
void IdentityProvider::setAutoApprove(bool on) {
  state_->setAutoApprove(on);
}
void IdentityProvider::setUsers(std::vector<ServiceUser> users) {
  state_->setUsers(std::move(users));
}

} // namespace orvex::service
