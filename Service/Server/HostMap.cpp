#include "Server/HostMap.h"

#include <algorithm>
#include <cctype>

namespace orvex::service {

std::string normalizedHost(std::string_view hostHeader) {
  std::string_view host = hostHeader;
  if (!host.empty() && host.front() == '[') { // an IPv6 literal keeps its brackets
    std::size_t close = host.find(']');
    host = host.substr(0, close == std::string_view::npos ? host.size() : close + 1);
  } else {
    host = host.substr(0, host.find(':'));
  }
  std::string lower(host);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower;
}

HostMap HostMap::fromConfig(const ServiceConfig& config) {
  HostMap map;
  map.deployment_ = config.deployment;
  map.add(config.issuerHost(), HostRoute{HostKind::Issuer, ""});
  for (const std::string& domain : config.domains) {
    map.add(map.hostOf(HostKind::ClientGateway, domain), HostRoute{HostKind::ClientGateway, domain});
    map.add(map.hostOf(HostKind::FileCache, domain), HostRoute{HostKind::FileCache, domain});
    map.add(map.hostOf(HostKind::FrontEnd, domain), HostRoute{HostKind::FrontEnd, domain});
  }
  // The client opens the default domain's front end while nobody is logged in.
  const std::string& fallback = config.deployment.defaultDomain;
  map.add(map.hostOf(HostKind::FrontEnd, fallback), HostRoute{HostKind::FrontEnd, fallback});
  return map;
}

void HostMap::add(const std::string& host, HostRoute route) {
  if (routes_.emplace(normalizedHost(host), std::move(route)).second)
    names_.push_back(normalizedHost(host));
}

std::optional<HostRoute> HostMap::find(std::string_view hostHeader) const {
  auto found = routes_.find(normalizedHost(hostHeader));
  return found == routes_.end() ? std::nullopt : std::optional(found->second);
}

std::string HostMap::hostOf(HostKind kind, const std::string& domain) const {
  switch (kind) {
    case HostKind::ClientGateway:
      return deployment_.clientGatewayHost(domain);
    case HostKind::FileCache:
      return deployment_.fileCacheHost(domain);
    case HostKind::FrontEnd:
      return deployment_.frontEndHost(domain);
    case HostKind::Issuer:
      break;
  }
  return deployment_.identityProviderHostLabel + "." + domain;
}

} // namespace orvex::service
