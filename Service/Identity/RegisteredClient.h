// The one client registered with the provider: the desktop client, a
// confidential client with a fixed secret and two private-scheme redirects.
#pragma once

#include <string_view>

namespace orvex::service {

inline constexpr std::string_view kClientId = "orvex.macclient";
inline constexpr std::string_view kClientSecret = "kqzmvw";
inline constexpr std::string_view kLoginRedirectUri = "com.orvex.macclient:/oauth2callback";
inline constexpr std::string_view kLogoutRedirectUri = "com.orvex.macclient:/signout-callback-oidc";

// The scopes the provider knows; "domain_api" grants the gateway and file
// cache, "offline_access" a refresh token.
inline constexpr std::string_view kKnownScopes[] = {"openid", "profile", "email", "domain_api", "offline_access"};
inline constexpr std::string_view kAllScopes = "openid profile domain_api offline_access";

// The audience of access tokens: the service's API, not the client.
inline constexpr std::string_view kApiAudience = "domain_api";

// Paths on the issuer host.
inline constexpr std::string_view kDiscoveryPath = "/.well-known/openid-configuration";
inline constexpr std::string_view kAuthorizePath = "/oauth2/authorize";
inline constexpr std::string_view kLoginPath = "/oauth2/login";
inline constexpr std::string_view kTokenPath = "/oauth2/token";
inline constexpr std::string_view kJwksPath = "/oauth2/jwks";
inline constexpr std::string_view kEndSessionPath = "/oauth2/logout";

} // namespace orvex::service
