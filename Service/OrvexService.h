// One running orvex-service: configuration, state (restored from the state
// folder or seeded from the configuration), identity provider, TLS material
// and the listener serving every host. The program's main and the tests both
// build one of these; tests run it in-process on an ephemeral port.
#pragma once

#include "Admin/AdminServer.h"
#include "Api/FileCacheApi.h"
#include "Api/FrontEnd.h"
#include "Api/GatewayApi.h"
#include "Config/ServiceConfig.h"
#include "Crypto/ServiceCertificates.h"
#include "Dispatch/Clock.h"
#include "Identity/IdentityProvider.h"
#include "Server/RequestObserver.h"
#include "Server/ServiceServer.h"
#include "State/ServiceState.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace orvex::service {

struct ServiceOptions {
  ServiceConfig config;
  // Where state.db, the blob files and the identity provider's signing key and
  // tokens live; nothing survives the process without it.
  std::optional<std::filesystem::path> stateDir;
  // Where ca.pem, server.pem and server-key.pem are written; by default the
  // "tls" folder of the state folder, else nowhere.
  std::optional<std::filesystem::path> certDir;
  std::uint16_t port = 0;                 // 0: any free port
  std::optional<std::uint16_t> adminPort; // the admin API's listener (0: any free port); none without it
  std::optional<std::chrono::seconds> tokenLifetime;
  std::optional<TlsMaterial> tls; // else generated (and kept with certDir across restarts)
  bool autoApprove = false;       // the login form is skipped (demo)
  // An upload session without a chunk for this long is dropped with its bytes.
  std::chrono::seconds uploadIdleLimit{24 * 3600};
};

// Built and started by one owner thread; the parts it hands out are thread-safe.
class OrvexService {
 public:
  // Throws ConfigError or std::runtime_error when the service cannot be set up.
  explicit OrvexService(ServiceOptions options, Clock& clock = Clock::system());
  ~OrvexService();
  OrvexService(const OrvexService&) = delete;
  OrvexService& operator=(const OrvexService&) = delete;

  // Starts listening (and the admin API's listener when the options ask for
  // it); answers the port. Throws std::runtime_error.
  std::uint16_t start();
  // Starts the admin API's plain-HTTP listener on 127.0.0.1:`port` (0: any
  // free port), once; answers its port. Throws std::runtime_error.
  std::uint16_t startAdmin(std::uint16_t port = 0);
  void stop();
  std::uint16_t port() const { return port_; }
  // The admin API's port; none until it was started.
  std::optional<std::uint16_t> adminPort() const { return adminPort_; }

  ServiceState& state() { return *state_; }
  IdentityProvider& identity() { return *identity_; }
  RequestObservers& observers() { return observers_; }
  const ServiceConfig& config() const { return options_.config; }
  const HostMap& hosts() const { return hosts_; }
  const TlsMaterial& tls() const { return tls_; }
  // The CA file a client's brand file names ("CAFile"); none when no folder was given.
  const std::optional<std::filesystem::path>& caFile() const { return caFile_; }

  // A brand file's "OVAuthURL" and "Deployment" object for this service:
  // host labels, CA file, and connect-to entries sending every host to 127.0.0.1:port.
  nlohmann::json brandSnippet() const;

 private:
  void setUpState(Clock& clock);
  void setUpTls();
  void route(const httplib::Request& request, httplib::Response& response, const HostRoute& route);
  // Serves a request as the TLS listener would, past its observers (fault rules that cut the real reply).
  void serveHost(const httplib::Request& request, httplib::Response& response, const std::string& host);

  ServiceOptions options_;
  Clock& clock_;
  HostMap hosts_;
  std::unique_ptr<ServiceState> state_;
  std::unique_ptr<IdentityProvider> identity_;
  TlsMaterial tls_;
  std::optional<std::filesystem::path> caFile_;
  RequestObservers observers_;
  std::unique_ptr<GatewayApi> gateway_;
  std::unique_ptr<FileCacheApi> fileCache_;
  std::unique_ptr<FrontEnd> frontEnd_;
  std::unique_ptr<ServiceServer> server_;
  std::uint16_t port_ = 0;
  // After server_: destroyed first, so no fault rule still holds a request when the listener stops.
  std::unique_ptr<AdminServer> admin_;
  std::optional<std::uint16_t> adminPort_;
};

} // namespace orvex::service
