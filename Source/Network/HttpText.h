// Character rules of HTTP shared by the request, cookie and endpoint code.
#pragma once

#include <string_view>

namespace orvex {

// ASCII letters compare without case; other bytes must be equal.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

// An RFC 9110 token: what a method, a header name or a cookie name consists of.
bool isHttpToken(std::string_view text);

// A DNS host name as the service's domains are: letters, digits, "-" and
// inner dots, 1 to 253 characters. Nothing that could end the host part of a
// URL ("/", "@", ":", "?", "#") or smuggle a second line in.
bool isHostName(std::string_view host);

} // namespace orvex
