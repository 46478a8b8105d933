// What the localization registry knows of a control that shows a fixed text:
// one operation that sets the visible text again from the control's stored key.
#pragma once

namespace orvex {

// Implemented by every localized control. A control registers itself with
// OVLocalization::addLocalizedObject when its key is first set and must call
// deleteLocalizedObject before it is destroyed; the registry never owns it.
// Called on the main thread only.
class OVLocalizable {
 public:
  virtual ~OVLocalizable() = default;

  // Re-texts the control: looks its stored key up again in the current table.
  virtual void localize() = 0;
};

} // namespace orvex
