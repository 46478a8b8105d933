// The check every gateway and file-cache request passes: an "Authorization:
// Bearer" token that the identity provider accepts (401 otherwise) and whose
// domains include the domain of the host asked (403 otherwise).
#pragma once

#include "Identity/IdentityProvider.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvex::service {

// Answers a token's claims when it is valid; IdentityProvider::verifyAccessToken in the service.
using TokenVerifier = std::function<std::optional<AccessClaims>(std::string_view token)>;

// The claims when the request may act on `domain`; otherwise the refusal is
// already in `response` and the result is empty.
std::optional<AccessClaims> authorize(const TokenVerifier& verifier, const httplib::Request& request,
                                      httplib::Response& response, const std::string& domain);

} // namespace orvex::service
