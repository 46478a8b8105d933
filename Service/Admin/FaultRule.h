// One fault-injection rule of the admin API: which requests it matches (host,
// method and path patterns) and what it does to them (answer with a given
// status and body, delay, stall until released, cut the reply's body after N
// bytes, or pause it after N bytes until released), for at most N matching
// requests.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace orvex::service {

// "*" stands for any run of characters ("/" included), "?" for one; the rest
// must match exactly. With `ignoreCase`, ASCII letters match either case.
bool globMatches(std::string_view pattern, std::string_view text, bool ignoreCase);

struct FaultRule {
  std::int64_t id = 0;
  // Patterns; an absent one matches everything.
  std::optional<std::string> host;   // without port, any case
  std::optional<std::string> method; // any case
  std::optional<std::string> path;   // the path without the query, exact case

  std::optional<int> status; // answer instead of the service
  std::string body;          // sent verbatim with `status`
  std::string contentType;   // of `body`
  std::optional<std::chrono::milliseconds> delay;
  bool stall = false;                         // hold the request until released or its client goes away
  std::optional<std::int64_t> dropAfterBytes; // close the connection after this many body bytes
  // Send this many body bytes, then hold the rest as `stall` holds a request.
  std::optional<std::int64_t> stallAfterBytes;
  std::optional<std::int64_t> times; // how many requests it acts on; unlimited when absent

  bool matches(const std::string& requestHost, const std::string& requestMethod, const std::string& requestPath) const;

  // Reads a rule as the admin API receives it. Throws ConfigError naming the bad key.
  static FaultRule fromJson(const nlohmann::json& json);
  nlohmann::json toJson() const;
};

} // namespace orvex::service
