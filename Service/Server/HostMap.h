// Which host names the service answers for, and what each one is: the
// identity provider's issuer host, and per domain its client-gateway,
// file-cache and front-end hosts (host label + "." + domain, the labels being
// the deployment's, as in the client's brand file).
#pragma once

#include "Config/ServiceConfig.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::service {

enum class HostKind { Issuer, ClientGateway, FileCache, FrontEnd };

struct HostRoute {
  HostKind kind = HostKind::FrontEnd;
  std::string domain; // empty for the issuer
};

// Immutable once built; safe to read from any thread.
class HostMap {
 public:
  static HostMap fromConfig(const ServiceConfig& config);

  // The route of a Host header: its port is stripped and case is ignored.
  std::optional<HostRoute> find(std::string_view hostHeader) const;
  // Every host name, in a stable order: the issuer first, then per domain.
  const std::vector<std::string>& hostNames() const { return names_; }
  // "files.orvex.example" for (FileCache, "orvex.example").
  std::string hostOf(HostKind kind, const std::string& domain) const;

 private:
  void add(const std::string& host, HostRoute route);

  Deployment deployment_;
  std::map<std::string, HostRoute> routes_; // lower-case host name -> route
  std::vector<std::string> names_;
};

// A Host header without its port, in lower case ("Files.Orvex.Example:8443" -> "files.orvex.example").
std::string normalizedHost(std::string_view hostHeader);

} // namespace orvex::service
