// orvex: the desktop client. `orvex --headless` runs the whole client without
// a window (servers, tests); `orvex --open-url URL` hands an address to the
// running instance; `--version` and `--help` print and exit.
#include "Dispatch/RunLoopMainQueue.h"
#include "OVApplicationDelegate.h"
#include "OVLogger.h"
#include "Platform/BrandFile.h"
#include "Platform/OVBrowser.h"
#include "Platform/OVDesktopNotices.h"
#include "Platform/OVSignalWatcher.h"
#include "Platform/OVUrlHandoff.h"
#include "UI/OVHeadlessAlerts.h"

#include <unistd.h>

#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace orvex {
namespace {

struct Arguments {
  bool headless = false;
  bool version = false;
  bool help = false;
  std::optional<std::string> openURL;
  std::string problem; // not empty when the command line is unusable
};

Arguments parseArguments(const std::vector<std::string>& args) {
  Arguments parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--headless") {
      parsed.headless = true;
    } else if (arg == "--version") {
      parsed.version = true;
    } else if (arg == "--help" || arg == "-h") {
      parsed.help = true;
    } else if (arg == "--open-url" && i + 1 < args.size()) {
      parsed.openURL = args[++i];
    } else if (arg.rfind("--open-url=", 0) == 0) {
      parsed.openURL = arg.substr(std::strlen("--open-url="));
    } else {
      parsed.problem = arg == "--open-url" ? "--open-url needs an address" : "unknown argument: " + arg;
    }
  }
  return parsed;
}

void printHelp(const BrandFile& brand) {
  std::cout << "Usage: orvex [--headless] [--open-url URL] [--version] [--help]\n\n"
            << "  --headless      run " << brand.bundleName
            << " without windows: alerts go to the log and standard error\n"
            << "                  and take their default answer; the login address is printed\n"
            << "  --open-url URL  hand URL (the login redirect) to the running instance\n"
            << "  --version       print the version\n"
            << "  --help          print this help\n\n"
            << "Environment: ORVEX_BRAND_FILE names the brand file; ORVEX_FIRST_RUN_MARKER replaces\n"
            << "/tmp/OVFirstRun.\n";
}

int handOver(const BrandFile& brand, const std::string& url) {
  auto socket = OVUrlHandoff::socketPath(XdgEnvironment::process(), brand.bundleName);
  if (!socket || !OVUrlHandoff::send(*socket, url)) {
    std::cerr << brand.bundleName << " is not running: cannot hand over the address.\n";
    return 1;
  }
  return 0;
}

std::string programPath(const char* argv0) {
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(argv0) : self.string();
}

int runApplication(const BrandFile& brand, bool headless, const char* argv0) {
  RunLoopMainQueue mainQueue;
  OVHeadlessAlerts alerts(std::cerr);
  OVPrintingBrowser printingBrowser(std::cerr);
  OVXdgOpenBrowser xdgBrowser;
  OVDBusNotices notices;
  int status = 0;
  OVApplicationOptions options;
  options.programPath = programPath(argv0);
  if (auto marker = options.env.variable("ORVEX_FIRST_RUN_MARKER"); marker && !marker->empty())
    options.firstRunMarker = *marker;
  options.quit = [&](int code) {
    status = code;
    mainQueue.quit();
  };
  OVBrowser& browser = headless ? static_cast<OVBrowser&>(printingBrowser) : xdgBrowser;
  {
    OVApplicationDelegate delegate(brand, mainQueue, alerts, browser, notices, std::move(options));
    OVSignalWatcher signals([&](int signal) {
      // A second Ctrl-C must work even while the main thread waits.
      if (delegate.noteTerminationSignal(signal))
        delegate.forceExit();
      mainQueue.async([&delegate, signal] { delegate.handleSignal(signal); });
    });
    delegate.init();
    delegate.applicationWillFinishLaunching();
    mainQueue.async([&delegate] { delegate.applicationDidFinishLaunching(); });
    mainQueue.run();
  }
  OVLog(kLogMain, "Exiting with status {}.", status);
  OVLogger::shared().flush();
  OVClose();
  return status;
}

} // namespace
} // namespace orvex

int main(int argc, char** argv) {
  using namespace orvex;
  // Before any thread exists, so that every thread inherits the mask and the
  // signals reach only the watcher.
  blockTerminationSignals();
  Arguments args = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!args.problem.empty()) {
    std::cerr << "orvex: " << args.problem << "\nTry 'orvex --help'.\n";
    return 64;
  }
  BrandFile brand = BrandFile::loadForProcess();
  if (args.help) {
    printHelp(brand);
    return 0;
  }
  if (args.version) {
    std::cout << brand.bundleName << " " << brand.shortVersion << " (" << brand.bundleVersion << ")\n";
    return 0;
  }
  if (args.openURL)
    return handOver(brand, *args.openURL);
  return runApplication(brand, args.headless, argv[0]);
}
