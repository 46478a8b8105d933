#include "Network/HttpRequest.h"

#include "Network/HttpText.h"

#include <algorithm>
#include <cctype>

namespace orvex {
namespace {

bool isUnreserved(unsigned char c) {
  return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

bool hasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void appendEncoded(std::string& out, std::string_view text, bool spaceAsPlus) {
  constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (isUnreserved(byte)) {
      out += c;
    } else if (spaceAsPlus && c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
}

} // namespace

void HttpHeaders::set(std::string name, std::string value) {
  auto first = std::ranges::find_if(fields_, [&](const Field& f) { return equalsIgnoringAsciiCase(f.first, name); });
  if (first == fields_.end()) {
    fields_.emplace_back(std::move(name), std::move(value));
    return;
  }
  *first = Field{std::move(name), std::move(value)};
  auto rest = std::remove_if(std::next(first), fields_.end(),
                             [&](const Field& f) { return equalsIgnoringAsciiCase(f.first, first->first); });
  fields_.erase(rest, fields_.end());
}

void HttpHeaders::add(std::string name, std::string value) {
  fields_.emplace_back(std::move(name), std::move(value));
}

void HttpHeaders::remove(std::string_view name) {
  std::erase_if(fields_, [&](const Field& f) { return equalsIgnoringAsciiCase(f.first, name); });
}

std::optional<std::string> HttpHeaders::get(std::string_view name) const {
  auto found = std::ranges::find_if(fields_, [&](const Field& f) { return equalsIgnoringAsciiCase(f.first, name); });
  if (found == fields_.end())
    return std::nullopt;
  return found->second;
}

void HttpRequest::setFormBody(const std::vector<std::pair<std::string, std::string>>& fields) {
  headers.set("Content-Type", "application/x-www-form-urlencoded");
  body = formEncode(fields);
}

std::string percentEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendEncoded(out, text, false);
  return out;
}

std::string formEncode(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty())
      out += '&';
    appendEncoded(out, name, true);
    out += '=';
    appendEncoded(out, value, true);
  }
  return out;
}

std::optional<std::string> requestProblem(const HttpRequest& request) {
  if (request.url.empty())
    return "the request has no URL";
  if (hasLineBreakOrNul(request.url))
    return "the URL holds a line break or NUL";
  if (!isHttpToken(request.method))
    return "the method \"" + request.method + "\" is not an HTTP token";
  for (const auto& [name, value] : request.headers.fields()) {
    if (!isHttpToken(name))
      return "the header name \"" + name + "\" is not an HTTP token";
    if (hasLineBreakOrNul(value))
      return "the value of header " + name + " holds a line break or NUL";
  }
  if (request.basicAuth &&
      (hasLineBreakOrNul(request.basicAuth->user) || request.basicAuth->user.find(':') != std::string::npos))
    return "the basic-auth user holds a colon, a line break or NUL";
  return std::nullopt;
}

} // namespace orvex
