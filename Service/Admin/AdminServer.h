// The admin and test API's own listener: plain HTTP on 127.0.0.1 only, apart
// from the TLS listener, so no request to one of the service's hosts can
// reach it. It registers the request log and the fault injector as observers
// of the TLS listener, and takes them off again when it goes.
#pragma once

#include "Admin/AdminApi.h"
#include "Admin/FaultInjector.h"
#include "Admin/RequestLog.h"
#include "Server/BackgroundListener.h"
#include "Server/RequestObserver.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace httplib {
class Server;
}

namespace orvex::service {

// start() and stop() are called by one owner thread; requests run on the
// listener's worker threads.
class AdminServer {
 public:
  AdminServer(ServiceState& state, IdentityProvider& identity, const ServiceConfig& config, Clock& clock,
              RequestObservers& observers, FaultInjector::Forward forward);
  ~AdminServer();
  AdminServer(const AdminServer&) = delete;
  AdminServer& operator=(const AdminServer&) = delete;

  // Listens on 127.0.0.1:`port` (0: any free port); answers the port. Throws std::runtime_error.
  std::uint16_t start(std::uint16_t port);
  // Lets every held request go first: the TLS listener cannot stop while one is held.
  void stop();

  RequestLog& requests() { return *requests_; }
  FaultInjector& faults() { return *faults_; }

 private:
  void serve(const httplib::Request& request, httplib::Response& response) const;

  RequestObservers& observers_;
  const std::shared_ptr<RequestLog> requests_;
  const std::shared_ptr<FaultInjector> faults_;
  const AdminApi api_;
  std::unique_ptr<httplib::Server> server_; // thread-safe on its own
  BackgroundListener listener_;
};

} // namespace orvex::service
