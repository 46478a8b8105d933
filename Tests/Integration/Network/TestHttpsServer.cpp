#include "TestHttpsServer.h"

#include "Crypto/ServiceCertificates.h"

namespace orvex::test {

const std::filesystem::path& TestHttpsServer::tlsFolder() {
  // One CA and certificate for the whole test program: making keys is the slow part.
  static TempDir folder;
  static const bool written = [] {
    auto material = service::generateTlsMaterial({"*.orvex.example", "orvex.example"});
    service::writeTlsMaterial(material, folder.path());
    return true;
  }();
  (void)written;
  return folder.path();
}

TestHttpsServer::TestHttpsServer()
    : server_((tlsFolder() / "server.pem").c_str(), (tlsFolder() / "server-key.pem").c_str()) {}

TestHttpsServer::~TestHttpsServer() {
  server_.stop();
  if (thread_.joinable())
    thread_.join();
}

void TestHttpsServer::start() {
  port_ = static_cast<std::uint16_t>(server_.bind_to_any_port("127.0.0.1"));
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // stop() only ends a server that is already running.
  while (!server_.is_running())
    std::this_thread::yield();
}

Deployment TestHttpsServer::deployment(bool trustCA) const {
  Deployment deployment;
  deployment.defaultDomain = "orvex.example";
  if (trustCA)
    deployment.caFile = tlsFolder() / "ca.pem";
  const std::string to = ":127.0.0.1:" + std::to_string(port_);
  deployment.connectTo = {"gateway.orvex.example:443" + to, "files.orvex.example:443" + to};
  return deployment;
}

HttpClientOptions TestHttpsServer::clientOptions(bool trustCA) const {
  return HttpClientOptions::forDeployment(deployment(trustCA), XdgEnvironment{});
}

void TestHttpsServer::record(const httplib::Request& request) {
  std::lock_guard lock(mutex_);
  received_.push_back(Received{request.method, request.target, request.headers, request.body});
}

std::vector<TestHttpsServer::Received> TestHttpsServer::received() {
  std::lock_guard lock(mutex_);
  return received_;
}

} // namespace orvex::test
