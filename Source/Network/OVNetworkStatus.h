// What the client knows about its network as a whole: whether the internet
// and a domain count as reachable (asked before login, logout, catch-up and
// every upload), the user's switch that takes the client off line, and the
// last measured transfer speeds the share window shows.
#pragma once

#include "Network/OVInternetProbe.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace orvex {

// Thread-safe: the switch and the speeds are atomics, the probe answers from
// its cache; no member waits.
class OVNetworkStatus {
 public:
  explicit OVNetworkStatus(std::unique_ptr<OVInternetProbe> internetProbe) : internetProbe_(std::move(internetProbe)) {}

  // While on, neither the internet nor any domain counts as reachable.
  bool disableInternetConnection() const { return disableInternetConnection_.load(); }
  void setDisableInternetConnection(bool on) { disableInternetConnection_.store(on); }

  // False while the switch is on; else the probe's last answer.
  bool internetReachable() const;
  // True for a present, non-empty domain while the switch is off; the domain
  // itself is not probed.
  bool domainReachable(const std::optional<std::string>& domain) const;

  // Bytes per second, 0 until measured.
  double lastUploadSpeed() const { return lastUploadSpeed_.load(); }
  void setLastUploadSpeed(double bytesPerSecond) { lastUploadSpeed_.store(bytesPerSecond); }
  double lastDownloadSpeed() const { return lastDownloadSpeed_.load(); }
  void setLastDownloadSpeed(double bytesPerSecond) { lastDownloadSpeed_.store(bytesPerSecond); }

  OVInternetProbe& internetProbe() { return *internetProbe_; }

 private:
  const std::unique_ptr<OVInternetProbe> internetProbe_; // constant after construction

  std::atomic<bool> disableInternetConnection_{false};
  std::atomic<double> lastUploadSpeed_{0};
  std::atomic<double> lastDownloadSpeed_{0};
};

} // namespace orvex
