// How the HTTP client reaches the service: which certificate authorities it
// trusts, which host names it sends elsewhere, and which hosts bypass a proxy.
#pragma once

#include "Platform/BrandFile.h"
#include "Platform/XdgDirs.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

// A plain value, read once when the client is created.
struct HttpClientOptions {
  // Trusted in addition to the system's certificate store.
  std::optional<std::filesystem::path> caFile;
  // "HOST:PORT:CONNECT-HOST:CONNECT-PORT" entries, as curl's --connect-to.
  std::vector<std::string> connectTo;
  // Hosts that never go through a proxy (curl's no-proxy list syntax). The
  // proxies themselves come from the usual environment variables.
  std::string noProxy = "127.0.0.1,localhost,::1";
  std::string userAgent; // empty: no "User-Agent" header
  // Idle connections kept open for reuse.
  long maxIdleConnections = 16;
  // Bytes of an evented transfer posted to its queue and not yet handled
  // beyond which the transfer pauses: a slow receiver must not make the
  // client hold a whole file in memory.
  std::size_t maxPendingBytes = 4 << 20;

  // The brand's CA file and connect-to entries; no-proxy is the environment's
  // list plus the loopback addresses and every connect-to host: a request
  // that goes through a proxy ignores the connect-to entries, and those point
  // at servers the proxy cannot know (the local service of the demo and tests).
  static HttpClientOptions forDeployment(const Deployment& deployment, const XdgEnvironment& env);
};

} // namespace orvex
