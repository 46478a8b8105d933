// Scope texts: space-separated lists of scope names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvex::service {

std::vector<std::string> splitScope(std::string_view scope);
bool hasScope(std::string_view scope, std::string_view name);
// True when every name of `scope` is one the provider knows.
bool scopeKnown(std::string_view scope);
// True when `narrower` asks for nothing `wider` did not grant.
bool scopeWithin(std::string_view narrower, std::string_view wider);

} // namespace orvex::service
