// The URL-safe base64 of JWTs, JWKs and PKCE (alphabet "-_", no padding),
// and the decoding of standard base64 for HTTP Basic credentials.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex::service {

std::string base64UrlEncode(std::string_view bytes);

// nullopt for anything a strict encoder would not have produced: characters
// outside the alphabet, padding, a length of 4n+1, or stray bits in the last
// character (so that one value has exactly one text, and a token cannot be
// altered without the signature noticing).
std::optional<std::string> base64UrlDecode(std::string_view text);

// The standard alphabet "+/" with "=" padding, as HTTP Basic credentials use;
// nullopt for anything else.
std::optional<std::string> base64Decode(std::string_view text);

} // namespace orvex::service
