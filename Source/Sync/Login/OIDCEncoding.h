// The encodings an OpenID Connect client needs on its own: URL-safe base64
// (JWT parts, PKCE), random texts for state, nonce and the PKCE verifier, the
// S256 code challenge, and the query of a redirect address.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// URL-safe alphabet "-_", no padding.
std::string base64UrlEncode(std::string_view bytes);
// Accepts the URL-safe alphabet with or without padding (providers differ);
// nullopt for any other character or an impossible length.
std::optional<std::string> base64UrlDecode(std::string_view text);

// `bytes` random bytes from the system's generator, base64url-encoded. Throws
// std::runtime_error when the generator fails: a guessable state or verifier
// must never be sent.
std::string randomUrlSafeText(std::size_t bytes);
// base64url(SHA-256(verifier)).
std::string pkceChallengeS256(std::string_view verifier);

// The parameters of a query ("a=1&b=x%20y"), "+" read as a space. nullopt when
// a "%" escape is malformed or a name comes twice (a redirect carrying two
// states or two codes is not to be trusted).
std::optional<std::map<std::string, std::string>> parseQuery(std::string_view query);

} // namespace orvex
