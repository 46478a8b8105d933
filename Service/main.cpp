// orvex-service: runs the service for the demo and for manual testing until
// SIGINT or SIGTERM. Everything but reading the command line lives in the
// orvex_service library (OrvexService), which the tests run in-process.
#include "OVLogger.h"
#include "OrvexService.h"

#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string_view>

namespace {

using orvex::service::ConfigError;
using orvex::service::OrvexService;
using orvex::service::ServiceConfig;
using orvex::service::ServiceOptions;

constexpr const char* kUsage =
    "usage: orvex-service (--config FILE | --demo) [--state DIR] [--port N] [--admin-port N]\n"
    "                     [--brand FILE] [--cert-dir DIR] [--log-dir DIR] [--token-lifetime SECONDS]\n"
    "                     [--auto-approve] [--verbose] [--print-config]\n";

struct CommandLine {
  std::optional<std::string> configFile;
  bool demo = false;
  bool printConfig = false;
  bool verbose = false;
  bool help = false;
  std::optional<std::string> brandFile;
  std::optional<std::filesystem::path> logDir;
  ServiceOptions options;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::int64_t number(std::string_view text, std::int64_t min, std::int64_t max, const std::string& option) {
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < min || value > max)
    throw UsageError(option + " needs a number from " + std::to_string(min) + " to " + std::to_string(max));
  return value;
}

std::uint16_t port(std::string_view text, const std::string& option) {
  return static_cast<std::uint16_t>(number(text, 0, 65535, option));
}

// Throws UsageError.
CommandLine parse(int argc, char** argv) {
  CommandLine line;
  ServiceOptions& o = line.options;
  const std::map<std::string_view, std::function<void()>> flags{
      {"--demo", [&] { line.demo = true; }},       {"--auto-approve", [&] { o.autoApprove = true; }},
      {"--verbose", [&] { line.verbose = true; }}, {"--print-config", [&] { line.printConfig = true; }},
      {"--help", [&] { line.help = true; }},
  };
  const std::map<std::string_view, std::function<void(const std::string&)>> options{
      {"--config", [&](const std::string& v) { line.configFile = v; }},
      {"--state", [&](const std::string& v) { o.stateDir = v; }},
      {"--port", [&](const std::string& v) { o.port = port(v, "--port"); }},
      {"--admin-port", [&](const std::string& v) { o.adminPort = port(v, "--admin-port"); }},
      {"--brand", [&](const std::string& v) { line.brandFile = v; }},
      {"--cert-dir", [&](const std::string& v) { o.certDir = v; }},
      {"--log-dir", [&](const std::string& v) { line.logDir = v; }},
      {"--token-lifetime",
       [&](const std::string& v) {
         o.tokenLifetime = std::chrono::seconds(number(v, 1, std::int64_t{365} * 86400, "--token-lifetime"));
       }},
  };
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (auto flag = flags.find(arg); flag != flags.end()) {
      flag->second();
    } else if (auto option = options.find(arg); option != options.end()) {
      if (i + 1 >= argc)
        throw UsageError(std::string(arg) + " needs a value");
      option->second(argv[++i]);
    } else {
      throw UsageError("unknown option " + std::string(arg));
    }
  }
  if (!line.help && line.demo == line.configFile.has_value())
    throw UsageError("give exactly one of --config FILE and --demo");
  return line;
}

// Where the CA and the logs go when neither --state nor an explicit folder says.
std::filesystem::path runtimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR"); // NOLINT(concurrency-mt-unsafe): read before any thread starts
  if (runtime != nullptr && *runtime == '/')
    return std::filesystem::path(runtime) / "orvex-service";
  return "/tmp/orvex-service-" + std::to_string(::getuid());
}

void setUpLogging(const CommandLine& line) {
  std::filesystem::path folder = line.logDir             ? *line.logDir
                                 : line.options.stateDir ? *line.options.stateDir / "logs"
                                                         : runtimeFolder() / "logs";
  std::error_code ignored; // a missing folder shows in the logger's own warning
  std::filesystem::create_directories(folder, ignored);
  orvex::OVLogger& logger = orvex::OVLogger::shared();
  bool verbose = line.verbose;
  logger.setGUIHandler([verbose](const std::string& text, unsigned) {
    if (verbose || text.find("Warning!") != std::string::npos || text.find("Error!") != std::string::npos)
      std::cerr << text;
  });
  logger.setLogToGUI(true);
  orvex::OVInitLogs(folder);
}

void printAddresses(const OrvexService& service) {
  std::cout << "orvex-service listening on 127.0.0.1:" << service.port() << "\n";
  for (const std::string& host : service.hosts().hostNames())
    std::cout << "https://" << host << ":" << service.port() << "\n";
  if (service.adminPort())
    std::cout << "Admin API: http://127.0.0.1:" << *service.adminPort() << "\n";
  if (service.caFile())
    std::cout << "CA file: " << service.caFile()->string() << "\n";
  std::cout << "Brand file snippet:\n" << service.brandSnippet().dump(2) << "\n" << std::flush;
}

} // namespace

int main(int argc, char** argv) {
  CommandLine line;
  try {
    line = parse(argc, argv);
  } catch (const UsageError& e) {
    std::cerr << "orvex-service: " << e.what() << "\n" << kUsage;
    return 2;
  }
  if (line.help) {
    std::cout << kUsage;
    return 0;
  }
  if (line.printConfig) {
    std::cout << (line.demo ? ServiceConfig::demoJson().dump(2) : "--print-config shows the --demo data") << "\n";
    return line.demo ? 0 : 2;
  }
  // Every thread started from here on inherits the blocked signals; main waits for them below.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  setUpLogging(line);
  try {
    line.options.config = line.demo ? ServiceConfig::demo() : ServiceConfig::load(*line.configFile);
    if (line.brandFile)
      line.options.config.useBrand(orvex::BrandFile::load(*line.brandFile));
    if (!line.options.stateDir && !line.options.certDir)
      line.options.certDir = runtimeFolder() / "tls";
    OrvexService service(std::move(line.options));
    service.start();
    printAddresses(service);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::cout << "orvex-service: stopping (signal " << signal << ")\n";
    service.stop();
  } catch (const ConfigError& e) {
    std::cerr << "orvex-service: bad configuration: " << e.what() << "\n";
    orvex::OVClose();
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "orvex-service: " << e.what() << "\n";
    orvex::OVClose();
    return 1;
  }
  orvex::OVClose();
  return 0;
}
