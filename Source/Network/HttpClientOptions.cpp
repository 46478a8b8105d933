#include "Network/HttpClientOptions.h"

namespace orvex {

HttpClientOptions HttpClientOptions::forDeployment(const Deployment& deployment, const XdgEnvironment& env) {
  HttpClientOptions options;
  options.caFile = deployment.caFile;
  options.connectTo = deployment.connectTo;

  // Setting curl's list replaces the one it would read from the environment,
  // so the environment's entries come first (curl prefers the lower-case name).
  std::string noProxy;
  auto fromEnv = env.variable ? env.variable("no_proxy") : std::nullopt;
  if (!fromEnv && env.variable)
    fromEnv = env.variable("NO_PROXY");
  if (fromEnv && !fromEnv->empty())
    noProxy = *fromEnv + ",";
  noProxy += options.noProxy;
  for (const auto& entry : deployment.connectTo) {
    auto parsed = parseConnectTo(entry);
    if (!parsed)
      continue;
    // An entry for any host sends every host elsewhere.
    noProxy += "," + (parsed->host.empty() ? std::string("*") : parsed->host);
  }
  options.noProxy = noProxy;
  return options;
}

} // namespace orvex
