// The front-end host of a domain: a small start page, and the public links,
// which serve a file to anyone who has the address, without logging in.
#pragma once

#include "Api/ApiContext.h"

namespace orvex::service {

// Stateless beyond the context; called on the server's worker threads.
class FrontEnd {
 public:
  explicit FrontEnd(ApiContext context) : context_(std::move(context)) {}

  void handle(const httplib::Request& request, httplib::Response& response, const std::string& domain);

 private:
  ApiContext context_;
};

// `name` for a Content-Disposition header: RFC 5987 percent-encoding of UTF-8.
std::string attachmentDisposition(const std::string& name);

} // namespace orvex::service
