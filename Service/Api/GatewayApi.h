// The client-gateway host of a domain: the full profile, catch-up and public
// links. (The real-time hub on the same host comes with its own handler.)
#pragma once

#include "Api/ApiContext.h"

namespace orvex::service {

// Stateless beyond the context; called on the server's worker threads.
class GatewayApi {
 public:
  explicit GatewayApi(ApiContext context) : context_(std::move(context)) {}

  void handle(const httplib::Request& request, httplib::Response& response, const std::string& domain);

 private:
  void fullProfile(const httplib::Request& request, httplib::Response& response, const std::string& domain,
                   const AccessClaims& claims);
  void catchUp(const httplib::Request& request, httplib::Response& response, const std::string& domain,
               const AccessClaims& claims);
  void publicLink(const httplib::Request& request, httplib::Response& response, const std::string& domain,
                  const AccessClaims& claims);

  ApiContext context_;
};

} // namespace orvex::service
