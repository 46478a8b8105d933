// The seam through which alerts and questions reach the user. The desktop
// build shows them as modal dialogs; --headless writes them to the log and
// standard error and takes their default answer; tests script the answers.
// Callers pass texts already localized.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

struct OVAlert {
  enum class Style { Informational, Warning, Critical };

  std::string messageText;     // the bold first line
  std::string informativeText; // the explanation below it; may be empty
  // The buttons from the most to the least prominent; none shows one "OK".
  std::vector<std::string> buttons;
  std::size_t defaultButton = 0; // what Return chooses, and the answer when nobody can be asked
  // A check box under the texts ("Remind me later"), with its initial state.
  std::optional<std::string> checkboxText;
  bool checkboxState = false;
  Style style = Style::Warning;
};

struct OVAlertAnswer {
  std::size_t button = 0;     // index into the alert's buttons
  bool checkboxState = false; // as the user left the check box
};

// Implementations are called on the main thread only (the dialogs of the
// desktop build are modal there); the drive's callbacks schedule their
// alerts onto it instead of calling in themselves.
class OVUserAlerts {
 public:
  OVUserAlerts() = default;
  OVUserAlerts(const OVUserAlerts&) = delete;
  OVUserAlerts& operator=(const OVUserAlerts&) = delete;
  virtual ~OVUserAlerts() = default;

  // Shows `alert` and returns once the user has answered.
  virtual OVAlertAnswer runModal(const OVAlert& alert) = 0;
};

// The button the alert falls back to: its default when that names a button, else the first.
std::size_t defaultAnswerIndex(const OVAlert& alert);

} // namespace orvex
