// application/x-www-form-urlencoded, both ways: the query of authorize and
// end-session requests, the bodies of the token endpoint and the login form,
// and the parameters the provider appends to redirect URIs.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvex::service {

// Parameters by name. OAuth forbids sending one parameter twice, so a
// repeated name is remembered in `repeated` for the endpoint to refuse.
struct FormParameters {
  std::map<std::string, std::string> values;
  std::vector<std::string> repeated;

  // The value, or "" when absent: OAuth treats an empty parameter as omitted.
  std::string get(const std::string& name) const;
};

// nullopt when a "%" escape is malformed. "+" reads as a space.
std::optional<FormParameters> parseForm(std::string_view text);
// The query of a request target ("/path?a=b" -> "a=b"); "" without one.
std::string_view queryOf(std::string_view target);

std::string percentEncode(std::string_view text);
std::optional<std::string> percentDecode(std::string_view text, bool plusIsSpace);

// `uri` with the parameters appended as a query, skipping empty values.
std::string appendQuery(const std::string& uri, const std::vector<std::pair<std::string, std::string>>& parameters);

} // namespace orvex::service
