// The service's one TLS listener on 127.0.0.1: every host name of the
// deployment is served on it, told apart by the Host header. Each request
// passes the request observers, then goes to the handler with the route of
// its host; a host the service does not serve gets 421.
#pragma once

#include "Crypto/ServiceCertificates.h"
#include "Server/BackgroundListener.h"
#include "Server/HostMap.h"
#include "Server/RequestObserver.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace httplib {
class SSLServer;
}

namespace orvex::service {

// start() and stop() are called by one owner thread; the handler and the
// observers run on the server's worker threads, many at once.
class ServiceServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&, const HostRoute&)>;

  // Throws std::runtime_error when the certificate or key cannot be used.
  ServiceServer(const TlsMaterial& tls, HostMap hosts, Handler handler, RequestObservers& observers);
  ~ServiceServer();
  ServiceServer(const ServiceServer&) = delete;
  ServiceServer& operator=(const ServiceServer&) = delete;

  // Listens on 127.0.0.1:`port` (0: any free port) and answers the port once
  // connections are being accepted. Throws std::runtime_error.
  std::uint16_t start(std::uint16_t port = 0);
  // Stops listening and waits for the requests in progress. Idle kept-alive
  // connections are closed within the keep-alive timeout.
  void stop();

  const HostMap& hosts() const { return hosts_; }

 private:
  void dispatch(const httplib::Request& request, httplib::Response& response);
  void route(const httplib::Request& request, httplib::Response& response, const std::string& host);

  const HostMap hosts_;
  const Handler handler_;
  RequestObservers& observers_;
  std::unique_ptr<httplib::SSLServer> server_; // thread-safe on its own
  BackgroundListener listener_;
};

} // namespace orvex::service
