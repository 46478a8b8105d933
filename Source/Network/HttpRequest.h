// One HTTP request as a plain value: what the HTTP client sends, built by the
// endpoint builders and the login, and changed freely by their callers (they
// add the "Authorization" header) before it is sent.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvex {

// Header fields in the order they were set. Names compare without regard to
// letter case, as HTTP wants; values are kept as given. A plain value.
class HttpHeaders {
 public:
  using Field = std::pair<std::string, std::string>;

  // Replaces every field of that name with one field, or appends it.
  void set(std::string name, std::string value);
  // Appends a field even when one of that name exists (Set-Cookie, for example).
  void add(std::string name, std::string value);
  void remove(std::string_view name);
  // The first field of that name; nullopt when there is none.
  std::optional<std::string> get(std::string_view name) const;
  bool contains(std::string_view name) const { return get(name).has_value(); }

  const std::vector<Field>& fields() const { return fields_; }
  bool empty() const { return fields_.empty(); }

  friend bool operator==(const HttpHeaders&, const HttpHeaders&) = default;

 private:
  std::vector<Field> fields_;
};

struct HttpBasicAuth {
  std::string user;
  std::string password;
  friend bool operator==(const HttpBasicAuth&, const HttpBasicAuth&) = default;
};

// A plain value. Nothing is ever answered from a cache (the client keeps
// none), so a request has no cache policy.
struct HttpRequest {
  std::string method = "GET"; // "GET", "POST", "PUT", "DELETE", ...
  std::string url;            // absolute, http or https
  HttpHeaders headers;
  std::optional<std::string> body; // sent as is; none sends no body at all
  // The longest the transfer may stay idle: while connecting, while waiting
  // for the reply, and between two pieces of it. A transfer that keeps moving
  // is never cut, so a large download may take as long as it needs. None
  // uses kDefaultIdleTimeout.
  std::optional<std::chrono::milliseconds> timeout;
  bool followRedirects = false; // a 3xx reply is the answer unless this is set
  std::optional<HttpBasicAuth> basicAuth;

  static constexpr std::chrono::seconds kDefaultIdleTimeout{60};

  // Sets the body to `fields` as application/x-www-form-urlencoded, with its
  // "Content-Type".
  void setFormBody(const std::vector<std::pair<std::string, std::string>>& fields);

  friend bool operator==(const HttpRequest&, const HttpRequest&) = default;
};

// RFC 3986 percent-encoding: unreserved characters stay, every other byte
// becomes %XX (upper-case hex).
std::string percentEncode(std::string_view text);
// application/x-www-form-urlencoded: name=value pairs joined by "&", each part
// percent-encoded except that a space becomes "+".
std::string formEncode(const std::vector<std::pair<std::string, std::string>>& fields);

// Why `request` cannot be sent: a method or header name that is not an HTTP
// token, a header value with a line break or NUL (it would smuggle in further
// headers), or an empty URL. nullopt when it can be sent.
std::optional<std::string> requestProblem(const HttpRequest& request);

} // namespace orvex
