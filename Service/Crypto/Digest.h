// Hashes and randomness for tokens, codes and PKCE.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvex::service {

// The 32 raw bytes of the SHA-256 of `data`. Throws std::runtime_error.
std::string sha256(std::string_view data);

// `count` bytes from the system's cryptographic generator. Throws std::runtime_error.
std::string randomBytes(std::size_t count);

// An unguessable text safe in URLs and headers: `bytes` random bytes, base64url.
std::string randomToken(std::size_t bytes = 32);

// Compares without leaking where the first difference is, for secrets a
// client presents (client secret, PKCE verifier hashes).
bool constantTimeEquals(std::string_view a, std::string_view b);

} // namespace orvex::service
