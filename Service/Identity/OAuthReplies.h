// The shapes of the provider's replies: JSON errors of the token endpoint
// (RFC 6749 section 5.2), error redirects of authorize (section 4.1.2.1),
// plain HTML pages for what cannot be redirected, and JSON documents.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace httplib {
struct Response;
} // namespace httplib

namespace orvex::service {

// invalid_client answers 401 with a Basic challenge, as the client
// authenticated (or should have) with HTTP Basic; every other error 400.
void replyTokenError(httplib::Response& response, std::string_view error, std::string_view description);

// A 302 to `location`.
void replyRedirect(httplib::Response& response, const std::string& location);

// A small HTML page; `message` is escaped.
void replyPage(httplib::Response& response, int status, std::string_view title, std::string_view message);

// JSON that must not be cached (tokens, keys, configuration).
void replyJson(httplib::Response& response, const nlohmann::json& body);

// Answer to a known path called with the wrong method.
void replyMethodNotAllowed(httplib::Response& response, std::string_view allowed);

std::string htmlEscape(std::string_view text);

} // namespace orvex::service
