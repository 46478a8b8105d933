#include "Identity/Scopes.h"

#include "Identity/RegisteredClient.h"

#include <algorithm>

namespace orvex::service {

std::vector<std::string> splitScope(std::string_view scope) {
  std::vector<std::string> names;
  while (!scope.empty()) {
    auto space = scope.find(' ');
    if (space != 0)
      names.emplace_back(scope.substr(0, space));
    scope = space == std::string_view::npos ? std::string_view() : scope.substr(space + 1);
  }
  return names;
}

bool hasScope(std::string_view scope, std::string_view name) {
  auto names = splitScope(scope);
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool scopeKnown(std::string_view scope) {
  auto names = splitScope(scope);
  return std::all_of(names.begin(), names.end(), [](const std::string& name) {
    return std::find(std::begin(kKnownScopes), std::end(kKnownScopes), name) != std::end(kKnownScopes);
  });
}

bool scopeWithin(std::string_view narrower, std::string_view wider) {
  auto names = splitScope(narrower);
  return std::all_of(names.begin(), names.end(), [&](const std::string& name) { return hasScope(wider, name); });
}

} // namespace orvex::service
