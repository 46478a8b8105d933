// One cookie of the process-wide cookie store, and its text in the store's
// line format (curl's Netscape cookie-file lines).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

struct HttpCookie {
  std::string name;
  std::string value;
  std::string domain; // a host name, without a leading dot
  std::string path = "/";
  bool includeSubdomains = false; // also sent to every host below `domain`
  bool secure = false;            // only sent over https

  friend bool operator==(const HttpCookie&, const HttpCookie&) = default;
};

// The store's line for `cookie`, a session cookie (no expiry); nullopt when a
// field would break the line format or is not a valid cookie (an empty or
// oddly built name, a value with separators or control characters, a domain
// that is not a host name, a path not starting with "/").
std::optional<std::string> cookieStoreLine(const HttpCookie& cookie);

// The cookie of one line of the store; nullopt for lines that hold none.
std::optional<HttpCookie> parseCookieStoreLine(std::string_view line);

// Whether a request to `host` carries `cookie` (paths aside).
bool cookieMatchesHost(const HttpCookie& cookie, std::string_view host);

} // namespace orvex
