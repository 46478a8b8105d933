// Which address the internet probe connects to. The probe asks "can we reach
// the service's probe host?", so it goes where the HTTP client would: to the
// connect-to address when one applies, to the proxy when one is configured
// for that host (a network that allows only the proxy still reaches the
// service), else to the probe host itself.
#pragma once

#include "Platform/BrandFile.h"
#include "Platform/XdgDirs.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

struct ProbeTarget {
  std::string host; // a name or a numeric address, without brackets
  std::uint16_t port = 0;
  friend bool operator==(const ProbeTarget&, const ProbeTarget&) = default;
};

ProbeTarget probeTargetFor(const Deployment& deployment, const XdgEnvironment& env);

// Host and port of a proxy setting ("[scheme://][user[:password]@]host[:port][/]");
// nullopt when it names no host. The port defaults to 1080, as curl's does.
std::optional<ProbeTarget> parseProxyAddress(std::string_view text);

// Whether `host` is exempt from proxies by a no-proxy list ("*", or names
// matching the host or a domain above it, with or without a leading dot).
bool noProxyCovers(std::string_view noProxy, std::string_view host);

} // namespace orvex
