// The file-cache host of a domain: journal events (create, delete, rename or
// move, new contents, lock, unlock), the upload addresses their replies hand
// out, and ranged downloads of contents by upload name.
#pragma once

#include "Api/ApiContext.h"

#include <vector>

namespace orvex::service {

// Stateless beyond the context; called on the server's worker threads.
class FileCacheApi {
 public:
  explicit FileCacheApi(ApiContext context) : context_(std::move(context)) {}

  void handle(const httplib::Request& request, httplib::Response& response, const std::string& domain);

 private:
  void journalEvent(const httplib::Request& request, httplib::Response& response, const std::string& domain,
                    const AccessClaims& claims, const std::vector<std::string>& segments);
  void chunk(const httplib::Request& request, httplib::Response& response, const std::string& domain,
             const AccessClaims& claims, const std::string& address);
  void download(const httplib::Request& request, httplib::Response& response, const std::string& domain,
                const AccessClaims& claims, const std::string& shareId, const std::string& uploadName);
  // The address where the bytes of an announced upload go.
  std::string uploadUrl(const std::string& domain, const std::string& address) const;

  ApiContext context_;
};

} // namespace orvex::service
