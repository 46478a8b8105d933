#include "OrvexService.h"

#include "Api/Replies.h"
#include "Config/StateSeeding.h"
#include "OVLogger.h"
#include "Platform/AtomicFile.h"
#include "Platform/WholeFile.h"
#include "State/SqliteStateStore.h"

#include <httplib.h>

namespace orvex::service {
namespace {

// Which host names a kept certificate was made for, so a changed configuration gets a new one.
constexpr const char* kHostsFile = "hosts.txt";

std::string joinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

// The material kept in `folder` when it was made for exactly `hosts`.
std::optional<TlsMaterial> keptTls(const std::filesystem::path& folder, const std::string& hosts) {
  WholeFile names = readWholeFile(folder / kHostsFile);
  WholeFile ca = readWholeFile(folder / "ca.pem");
  WholeFile cert = readWholeFile(folder / "server.pem");
  WholeFile key = readWholeFile(folder / "server-key.pem");
  if (!names.exists || names.text != hosts || ca.text.empty() || cert.text.empty() || key.text.empty())
    return std::nullopt;
  return TlsMaterial{ca.text, cert.text, key.text};
}

} // namespace

OrvexService::OrvexService(ServiceOptions options, Clock& clock)
    : options_(std::move(options)), clock_(clock), hosts_(HostMap::fromConfig(options_.config)) {
  setUpState(clock);
  IdentityConfig identity;
  identity.issuer = options_.config.issuer;
  identity.autoApprove = options_.autoApprove;
  if (options_.tokenLifetime)
    identity.accessTokenLifetime = *options_.tokenLifetime;
  // Tokens the clients saved must stay good across a restart on the same state.
  if (options_.stateDir)
    identity.keptIn = *options_.stateDir / "identity";
  identity_ = std::make_unique<IdentityProvider>(identity, options_.config.identityUsers(), clock);
  setUpTls();
  auto verifier = [this](std::string_view token) { return identity_->verifyAccessToken(token); };
  ApiContext context{*state_, verifier, hosts_, options_.config};
  gateway_ = std::make_unique<GatewayApi>(context);
  fileCache_ = std::make_unique<FileCacheApi>(context);
  frontEnd_ = std::make_unique<FrontEnd>(context);
  server_ = std::make_unique<ServiceServer>(
      tls_, hosts_, [this](const httplib::Request& q, httplib::Response& r, const HostRoute& h) { route(q, r, h); },
      observers_);
}

OrvexService::~OrvexService() {
  stop();
}

void OrvexService::setUpState(Clock& clock) {
  std::unique_ptr<StateStore> store;
  std::unique_ptr<BlobStore> blobs;
  if (options_.stateDir) {
    store = std::make_unique<SqliteStateStore>(*options_.stateDir / "state.db");
    blobs = std::make_unique<BlobStore>(*options_.stateDir / "blobs");
  } else {
    store = memoryStateStore();
    blobs = BlobStore::temporary();
  }
  state_ = std::make_unique<ServiceState>(std::move(store), std::move(blobs), clock);
  state_->setCompanies(options_.config.companies);
  state_->setUploadIdleLimit(options_.uploadIdleLimit);
  if (state_->restore()) {
    OVLog(kLogMain, "orvex-service: state restored from {}", options_.stateDir->string());
  } else {
    seedState(options_.config, *state_, clock);
  }
}

void OrvexService::setUpTls() {
  std::optional<std::filesystem::path> folder = options_.certDir;
  if (!folder && options_.stateDir)
    folder = *options_.stateDir / "tls";
  const std::string hosts = joinLines(hosts_.hostNames());
  std::optional<TlsMaterial> kept = folder && !options_.tls ? keptTls(*folder, hosts) : std::nullopt;
  tls_ = options_.tls ? *options_.tls : kept ? *kept : generateTlsMaterial(hosts_.hostNames());
  if (!folder)
    return;
  caFile_ = writeTlsMaterial(tls_, *folder);
  if (std::error_code error = writeFileAtomically(*folder / kHostsFile, hosts, 0600))
    OVLog(kLogMain, "Warning! Cannot record the certificate's host names in {}: {}", folder->string(), error.message());
}

std::uint16_t OrvexService::start() {
  port_ = server_->start(options_.port);
  if (options_.adminPort)
    startAdmin(*options_.adminPort);
  return port_;
}

std::uint16_t OrvexService::startAdmin(std::uint16_t port) {
  if (adminPort_)
    return *adminPort_;
  auto forward = [this](const httplib::Request& q, httplib::Response& r, const std::string& host) {
    serveHost(q, r, host);
  };
  admin_ = std::make_unique<AdminServer>(*state_, *identity_, options_.config, clock_, observers_, forward);
  adminPort_ = admin_->start(port);
  return *adminPort_;
}

void OrvexService::stop() {
  // Held requests first: the TLS listener waits for every request in progress.
  if (admin_)
    admin_->stop();
  if (server_)
    server_->stop();
}

void OrvexService::serveHost(const httplib::Request& request, httplib::Response& response, const std::string& host) {
  if (std::optional<HostRoute> found = hosts_.find(host))
    route(request, response, *found);
  else
    replyMessage(response, 421, "This service does not serve the host \"" + host + "\"");
}

void OrvexService::route(const httplib::Request& request, httplib::Response& response, const HostRoute& route) {
  switch (route.kind) {
    case HostKind::Issuer:
      if (!identity_->handle(request, response))
        replyMessage(response, 404, "Not found");
      return;
    case HostKind::ClientGateway:
      return gateway_->handle(request, response, route.domain);
    case HostKind::FileCache:
      return fileCache_->handle(request, response, route.domain);
    case HostKind::FrontEnd:
      return frontEnd_->handle(request, response, route.domain);
  }
}

nlohmann::json OrvexService::brandSnippet() const {
  const Deployment& d = options_.config.deployment;
  nlohmann::json connectTo = nlohmann::json::array();
  for (const std::string& host : hosts_.hostNames())
    connectTo.push_back(host + ":443:127.0.0.1:" + std::to_string(port_));
  nlohmann::json deployment{{"ClientGatewayHostLabel", d.clientGatewayHostLabel},
                            {"FileCacheHostLabel", d.fileCacheHostLabel},
                            {"FrontEndHostLabel", d.frontEndHostLabel},
                            {"IdentityProviderHostLabel", d.identityProviderHostLabel},
                            {"DefaultDomain", d.defaultDomain},
                            {"ProbeHost", "127.0.0.1"},
                            {"ProbePort", port_},
                            {"ConnectTo", connectTo}};
  if (caFile_)
    deployment["CAFile"] = caFile_->string();
  return {{"OVAuthURL", options_.config.issuer}, {"Deployment", deployment}};
}

} // namespace orvex::service
