// Where the login and logout pages are shown: the user's own browser, opened
// with xdg-open; --headless prints the address for the user to open.
#pragma once

#include <ostream>
#include <string>

namespace orvex {

// Implementations are called on the main thread.
class OVBrowser {
 public:
  OVBrowser() = default;
  OVBrowser(const OVBrowser&) = delete;
  OVBrowser& operator=(const OVBrowser&) = delete;
  virtual ~OVBrowser() = default;

  // Shows `url`; false when it could not be handed to a browser.
  virtual bool openURL(const std::string& url) = 0;
};

// Runs xdg-open without a shell and without waiting for the browser.
class OVXdgOpenBrowser final : public OVBrowser {
 public:
  bool openURL(const std::string& url) override;
};

// Writes the address to `out` (standard error in the program), for a user
// without a desktop to open elsewhere. Its redirect then comes back through
// `orvex --open-url`.
class OVPrintingBrowser final : public OVBrowser {
 public:
  explicit OVPrintingBrowser(std::ostream& out) : out_(out) {}
  bool openURL(const std::string& url) override;

 private:
  std::ostream& out_; // main thread only
};

} // namespace orvex
