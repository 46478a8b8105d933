#include "Platform/OVDesktopNotices.h"

#include "OVLogger.h"

#include <systemd/sd-bus.h>

#include <system_error>

namespace orvex {

OVDBusNotices::~OVDBusNotices() {
  if (bus_ != nullptr)
    sd_bus_flush_close_unref(bus_);
}

bool OVDBusNotices::connect() {
  if (triedToConnect_)
    return bus_ != nullptr;
  triedToConnect_ = true;
  int result = sd_bus_open_user(&bus_);
  if (result < 0) {
    bus_ = nullptr;
    OVLog(kLogMain, "Warning! No session bus, desktop notices are not sent: {}",
          std::generic_category().message(-result));
    return false;
  }
  return true;
}

void OVDBusNotices::post(const std::string& name) {
  if (!connect())
    return;
  int result = sd_bus_emit_signal(bus_, "/com/orvex/Drive", "com.orvex.Drive", "Notice", "s", name.c_str());
  if (result >= 0)
    result = sd_bus_flush(bus_);
  if (result < 0)
    OVLog(kLogMain, "Warning! Notice {} not sent: {}", name, std::generic_category().message(-result));
}

} // namespace orvex
