#include "Platform/OVBrowser.h"

#include "OVLogger.h"

#include <spawn.h>
#include <sys/wait.h>

#include <thread>

extern char** environ;

namespace orvex {

bool OVXdgOpenBrowser::openURL(const std::string& url) {
  // Callers pass https addresses built from the provider's checked endpoints,
  // so the argument cannot read as an option of xdg-open.
  const char* argv[] = {"xdg-open", url.c_str(), nullptr};
  pid_t pid = 0;
  int error = posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ);
  if (error != 0) {
    OVLog(kLogMain, "Warning! Cannot run xdg-open: error {}", error);
    return false;
  }
  // xdg-open returns once the browser has the address; reap it off the main
  // thread so that no zombie is left behind.
  std::thread([pid] {
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
      OVLog(kLogMain, "Warning! xdg-open failed with status {}", status);
  }).detach();
  return true;
}

bool OVPrintingBrowser::openURL(const std::string& url) {
  OVLog(kLogMain, "Open this address in a browser to continue: {}", url);
  out_ << "Open this address in a browser to continue:\n" << url << std::endl;
  return true;
}

} // namespace orvex
