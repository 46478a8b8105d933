#include "Identity/OAuthReplies.h"

#include <httplib.h>

namespace orvex::service {

void replyJson(httplib::Response& response, const nlohmann::json& body) {
  response.set_header("Cache-Control", "no-store");
  response.set_header("Pragma", "no-cache");
  response.set_content(body.dump(), "application/json");
}

void replyTokenError(httplib::Response& response, std::string_view error, std::string_view description) {
  if (error == "invalid_client") {
    response.status = 401;
    response.set_header("WWW-Authenticate", R"(Basic realm="orvex-service", charset="UTF-8")");
  } else {
    response.status = 400;
  }
  replyJson(response, {{"error", error}, {"error_description", description}});
}

void replyRedirect(httplib::Response& response, const std::string& location) {
  response.status = 302;
  response.set_header("Location", location);
  response.set_header("Cache-Control", "no-store");
}

void replyPage(httplib::Response& response, int status, std::string_view title, std::string_view message) {
  response.status = status;
  std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + htmlEscape(title) +
                     "</title></head>\n<body><h1>" + htmlEscape(title) + "</h1><p>" + htmlEscape(message) +
                     "</p></body></html>\n";
  response.set_header("Cache-Control", "no-store");
  response.set_content(page, "text/html; charset=utf-8");
}

void replyMethodNotAllowed(httplib::Response& response, std::string_view allowed) {
  response.set_header("Allow", std::string(allowed));
  replyPage(response, 405, "Method not allowed", "This address accepts " + std::string(allowed) + " only.");
}

std::string htmlEscape(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped.push_back(c);
    }
  }
  return escaped;
}

} // namespace orvex::service
