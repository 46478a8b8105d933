#include "Api/FrontEnd.h"

#include "Api/Replies.h"

#include <httplib.h>

#include <fmt/format.h>

namespace orvex::service {

std::string attachmentDisposition(const std::string& name) {
  std::string encoded;
  for (unsigned char c : name) {
    bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
    encoded += plain ? std::string(1, static_cast<char>(c)) : fmt::format("%{:02X}", c);
  }
  return "attachment; filename*=UTF-8''" + encoded;
}

void FrontEnd::handle(const httplib::Request& request, httplib::Response& response, const std::string& domain) {
  std::vector<std::string> segments = pathSegments(request.path);
  if (request.method != "GET")
    return replyMessage(response, 405, "The front end only serves GET requests");
  if (segments.empty()) {
    response.status = 200;
    response.set_content(fmt::format("<!DOCTYPE html><html><head><title>Orvex</title></head><body>"
                                     "<h1>Orvex</h1><p>{} is served by orvex-service.</p></body></html>",
                                     domain),
                         "text/html; charset=utf-8");
    return;
  }
  if (segments.size() != 2 || segments[0] != "l")
    return replyMessage(response, 404, "Not found");
  auto link = context_.state.linkContent(segments[1]);
  if (!link)
    return replyMessage(response, link.error().status, link.error().message);
  response.set_header("Content-Disposition", attachmentDisposition(link->name));
  replyContent(response, link->content, 0, link->content->size(), "application/octet-stream");
}

} // namespace orvex::service
