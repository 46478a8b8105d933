#include "Admin/AdminServer.h"

#include "Api/Replies.h"
#include "OVLogger.h"
#include "Server/HostMap.h"

#include <httplib.h>

#include <stdexcept>

namespace orvex::service {
namespace {

// Enough for tests that hold several requests while they wait on the admin API.
constexpr std::size_t kWorkers = 16;

// A web page cannot talk to the listener under a name of its own (DNS rebinding).
bool isLoopbackName(const std::string& host) {
  return host == "127.0.0.1" || host == "localhost" || host.empty();
}

} // namespace

AdminServer::AdminServer(ServiceState& state, IdentityProvider& identity, const ServiceConfig& config, Clock& clock,
                         RequestObservers& observers, FaultInjector::Forward forward)
    : observers_(observers),
      requests_(std::make_shared<RequestLog>()),
      faults_(std::make_shared<FaultInjector>(clock, std::move(forward))),
      api_(AdminContext{state, identity, config, *requests_, *faults_, clock}),
      server_(std::make_unique<httplib::Server>()) {
  // The log first: it records requests that a fault rule then answers.
  observers_.add(requests_);
  observers_.add(faults_);
  server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  auto entry = [this](const httplib::Request& request, httplib::Response& response) { serve(request, response); };
  server_->Get(".*", entry);
  server_->Post(".*", entry);
  server_->Put(".*", entry);
  server_->Patch(".*", entry);
  server_->Delete(".*", entry);
}

AdminServer::~AdminServer() {
  stop();
  observers_.remove(faults_);
  observers_.remove(requests_);
}

std::uint16_t AdminServer::start(std::uint16_t port) {
  return listener_.start(*server_, port, "the admin API");
}

void AdminServer::stop() {
  faults_->shutDown();
  listener_.stop(*server_);
}

void AdminServer::serve(const httplib::Request& request, httplib::Response& response) const {
  const std::string host = normalizedHost(request.get_header_value("Host"));
  if (!isLoopbackName(host))
    return replyMessage(response, 421, "The admin API answers only on 127.0.0.1");
  try {
    api_.handle(request, response);
  } catch (const std::exception& e) { // no exception reaches the HTTP library's threads
    OVLog(kLogMain, "Error! admin {} {} failed: {}", request.method, request.path, e.what());
    replyMessage(response, 500, std::string("Internal error: ") + e.what());
  }
}

} // namespace orvex::service
