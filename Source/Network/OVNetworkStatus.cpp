#include "Network/OVNetworkStatus.h"

namespace orvex {

bool OVNetworkStatus::internetReachable() const {
  return !disableInternetConnection() && internetProbe_->reachable();
}

bool OVNetworkStatus::domainReachable(const std::optional<std::string>& domain) const {
  return domain && !domain->empty() && !disableInternetConnection();
}

} // namespace orvex
