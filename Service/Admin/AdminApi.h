// The admin and test API's requests: acting as another user or device on
// nodes and shares, inspecting state, fault rules, tokens, the request log and
// counters. Paths and bodies are listed in Service/README.md ("Admin API").
// Every body is a JSON object, read strictly: a missing, unknown or mistyped
// key gets a 400 naming it, and changes nothing.
#pragma once

#include "Admin/FaultInjector.h"
#include "Admin/RequestLog.h"
#include "Config/ServiceConfig.h"
#include "Dispatch/Clock.h"
#include "Identity/IdentityProvider.h"
#include "State/ServiceState.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace orvex::service {

// What the admin API works on. References only; each object is thread-safe or immutable.
struct AdminContext {
  ServiceState& state;
  IdentityProvider& identity;
  const ServiceConfig& config;
  RequestLog& requests;
  FaultInjector& faults;
  Clock& clock;
};

// One request to a route: the values of its ":name" path segments, in order.
struct AdminCall {
  const httplib::Request& request;
  httplib::Response& response;
  std::vector<std::string> parameters;

  // The body's JSON object ({} for an empty body). Throws ConfigError.
  nlohmann::json body() const;
  // An integer query parameter; `fallback` when absent. Throws ConfigError.
  std::int64_t queryInteger(const char* name, std::int64_t fallback) const;
};

// Constant after construction; handle() runs on the admin listener's worker threads.
class AdminApi {
 public:
  explicit AdminApi(AdminContext context);

  // Answers every request: 404 for an unknown path, 405 for a known path with another method.
  void handle(const httplib::Request& request, httplib::Response& response) const;

 private:
  using Handler = std::function<void(const AdminCall&)>;
  struct Route {
    std::string method;
    std::vector<std::string> segments; // ":name" matches any one segment
    Handler handler;
  };

  void add(std::string method, const std::string& pattern, Handler handler);
  // One file per group of routes.
  void addNodeRoutes();
  void addShareRoutes();
  void addFaultRoutes();
  void addInspectionRoutes();

  AdminContext context_;
  std::vector<Route> routes_;
};

} // namespace orvex::service
