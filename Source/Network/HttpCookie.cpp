#include "Network/HttpCookie.h"

#include "Network/HttpText.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace orvex {
namespace {

// Values are the RFC 6265 cookie-octets.
bool isCookieValue(std::string_view value) {
  return std::ranges::all_of(value, [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x7F && c != '"' && c != ',' && c != ';' && c != '\\';
  });
}

bool isCookiePath(std::string_view path) {
  return !path.empty() && path.front() == '/' &&
         std::ranges::none_of(path, [](char c) { return std::iscntrl(static_cast<unsigned char>(c)) != 0; });
}

std::vector<std::string_view> splitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (size_t tab = line.find('\t'); tab != std::string_view::npos; tab = line.find('\t', start)) {
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

} // namespace

std::optional<std::string> cookieStoreLine(const HttpCookie& cookie) {
  if (!isHttpToken(cookie.name) || !isCookieValue(cookie.value) || !isHostName(cookie.domain) ||
      !isCookiePath(cookie.path))
    return std::nullopt;
  // domain, subdomains too, path, https only, expiry (0: this session), name, value
  const char* flag[] = {"FALSE", "TRUE"};
  return (cookie.includeSubdomains ? "." : "") + cookie.domain + "\t" + flag[cookie.includeSubdomains] + "\t" +
         cookie.path + "\t" + flag[cookie.secure] + "\t0\t" + cookie.name + "\t" + cookie.value;
}

std::optional<HttpCookie> parseCookieStoreLine(std::string_view line) {
  // Cookies the server marked HttpOnly carry this prefix; other "#" lines are comments.
  constexpr std::string_view kHttpOnly = "#HttpOnly_";
  if (line.starts_with(kHttpOnly))
    line.remove_prefix(kHttpOnly.size());
  else if (line.starts_with("#"))
    return std::nullopt;
  auto fields = splitTabs(line);
  if (fields.size() < 6 || fields.size() > 7)
    return std::nullopt;
  HttpCookie cookie;
  std::string_view domain = fields[0];
  while (domain.starts_with("."))
    domain.remove_prefix(1);
  cookie.domain = std::string(domain);
  cookie.includeSubdomains = fields[1] == "TRUE";
  cookie.path = std::string(fields[2]);
  cookie.secure = fields[3] == "TRUE";
  cookie.name = std::string(fields[5]);
  if (fields.size() == 7)
    cookie.value = std::string(fields[6]);
  if (cookie.domain.empty() || cookie.name.empty())
    return std::nullopt;
  return cookie;
}

bool cookieMatchesHost(const HttpCookie& cookie, std::string_view host) {
  if (equalsIgnoringAsciiCase(host, cookie.domain))
    return true;
  if (!cookie.includeSubdomains || host.size() <= cookie.domain.size() + 1)
    return false;
  const size_t dot = host.size() - cookie.domain.size() - 1;
  return host[dot] == '.' && equalsIgnoringAsciiCase(host.substr(dot + 1), cookie.domain);
}

} // namespace orvex
