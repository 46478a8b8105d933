// What the request handlers of the gateway, the file cache and the front end
// share: the state, the bearer check, the host names (for the addresses they
// hand out) and the configured users.
#pragma once

#include "Api/BearerAuth.h"
#include "Config/ServiceConfig.h"
#include "Server/HostMap.h"
#include "State/ServiceState.h"

namespace orvex::service {

// References only; every referenced object is thread-safe or immutable.
struct ApiContext {
  ServiceState& state;
  TokenVerifier verifier;
  const HostMap& hosts;
  const ServiceConfig& config;
};

} // namespace orvex::service
