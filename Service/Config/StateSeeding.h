// Fills a new state from the configuration: shares, the seed folders and
// files (each a change with its own tick, as if a user had made it), their
// locks, then the subfolder shares whose folders now exist.
#pragma once

#include "Config/ServiceConfig.h"
#include "Dispatch/Clock.h"
#include "State/ServiceState.h"

namespace orvex::service {

// Throws ConfigError when the state refuses an entry (two files at one path, for example).
void seedState(const ServiceConfig& config, ServiceState& state, Clock& clock);

} // namespace orvex::service
