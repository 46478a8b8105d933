#include "Api/BearerAuth.h"

#include "Api/Replies.h"

#include <httplib.h>

#include <strings.h>
#include <algorithm>

namespace orvex::service {

std::optional<AccessClaims> authorize(const TokenVerifier& verifier, const httplib::Request& request,
                                      httplib::Response& response, const std::string& domain) {
  const std::string header = request.get_header_value("Authorization");
  constexpr std::string_view kScheme = "Bearer ";
  std::optional<AccessClaims> claims;
  if (header.size() > kScheme.size() && strncasecmp(header.c_str(), kScheme.data(), kScheme.size()) == 0)
    claims = verifier(std::string_view(header).substr(kScheme.size()));
  if (!claims) {
    response.set_header("WWW-Authenticate", "Bearer error=\"invalid_token\"");
    replyMessage(response, 401, "A valid bearer token is required");
    return std::nullopt;
  }
  if (claims->primaryDomain != domain &&
      std::find(claims->domains.begin(), claims->domains.end(), domain) == claims->domains.end()) {
    replyMessage(response, 403, "The token does not grant access to the domain " + domain);
    return std::nullopt;
  }
  return claims;
}

} // namespace orvex::service
