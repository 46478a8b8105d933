#include "UI/OVHeadlessAlerts.h"

#include "OVLogger.h"

namespace orvex {

std::size_t defaultAnswerIndex(const OVAlert& alert) {
  return alert.defaultButton < alert.buttons.size() ? alert.defaultButton : 0;
}

OVAlertAnswer OVHeadlessAlerts::runModal(const OVAlert& alert) {
  const std::size_t answer = defaultAnswerIndex(alert);
  const std::string button = alert.buttons.empty() ? std::string("OK") : alert.buttons[answer];
  std::string text = "Alert: " + alert.messageText;
  if (!alert.informativeText.empty())
    text += " - " + alert.informativeText;
  text += " [answered \"" + button + "\" without asking]";
  OVLog(kLogMain, "{}", text);
  {
    std::lock_guard lock(mutex_);
    out_ << text << std::endl;
  }
  return OVAlertAnswer{answer, alert.checkboxState};
}

} // namespace orvex
