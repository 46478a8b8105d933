// Alerts without a desktop (--headless): nobody can answer, so each alert is
// reported and answered with its default.
#pragma once

#include "UI/OVUserAlerts.h"

#include <iostream>
#include <mutex>
#include <ostream>

namespace orvex {

// Thread-safe (the stream is written under mutex_), although the seam is only
// used from the main thread.
class OVHeadlessAlerts final : public OVUserAlerts {
 public:
  // `out` is standard error in the program; it must outlive this object.
  explicit OVHeadlessAlerts(std::ostream& out = std::cerr) : out_(out) {}

  // Logs the alert on the main log and writes it to `out`, then answers with
  // its default button and the check box as it was.
  OVAlertAnswer runModal(const OVAlert& alert) override;

 private:
  std::mutex mutex_;
  std::ostream& out_; // guarded by mutex_
};

} // namespace orvex
