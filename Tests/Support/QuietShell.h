// The login's application shell and browser for a client whose login is put in
// place directly, with tokens the service issued, rather than through the
// browser: there is no menu to update, no page to show and nobody to ask.
#pragma once

#include "Platform/OVBrowser.h"
#include "Sync/Login/OVAuthorization.h"

#include <string>

namespace orvex::test {

// Stateless: any thread may call it.
class QuietShell final : public OVAuthorizationShell {
 public:
  void loginPerformed() override {}
  void logoutPerformed() override {}
  void setLoginMenuTitle(const std::string&) override {}
  void showPreferences() override {}
  void openStatusMenu() override {}
  bool hasUploads() override { return false; }
};

// Refuses every page, as a machine without a browser would. Stateless.
class NoBrowser final : public OVBrowser {
 public:
  bool openURL(const std::string&) override { return false; }
};

} // namespace orvex::test
