// What comes back from the HTTP client: a response (any status), or an error
// saying why there is none.
#pragma once

#include "Network/HttpRequest.h"

#include <string>
#include <utility>
#include <variant>

namespace orvex {

struct HttpResponse {
  long status = 0;     // the final response's status (after redirects, when followed)
  HttpHeaders headers; // the final response's header fields, in order
  std::string body;    // blocking requests only; evented transfers deliver it as data
  std::string url;     // the address that answered (differs when redirects were followed)
  // Connections this transfer had to open: 0 when it reused one.
  long newConnections = 0;
};

struct HttpError {
  enum class Kind {
    InvalidRequest, // refused before sending: see requestProblem()
    Timeout,        // idle for longer than the request's timeout
    Tls,            // the server's certificate or the handshake was refused
    Transport,      // anything else: name resolution, connection, protocol
    Cancelled,      // the transfer was cancelled, or the client shut down
  };
  Kind kind = Kind::Transport;
  int code = 0;        // libcurl's CURLcode; 0 for InvalidRequest and Cancelled
  std::string message; // for the log
};

// Either a response or an error. A plain value.
class HttpResult {
 public:
  HttpResult(HttpResponse response) : value_(std::move(response)) {} // NOLINT(google-explicit-constructor)
  HttpResult(HttpError error) : value_(std::move(error)) {}          // NOLINT(google-explicit-constructor)

  // A response arrived, whatever its status.
  bool ok() const { return std::holds_alternative<HttpResponse>(value_); }
  // Only when ok().
  const HttpResponse& response() const { return std::get<HttpResponse>(value_); }
  HttpResponse& response() { return std::get<HttpResponse>(value_); }
  // Only when !ok().
  const HttpError& error() const { return std::get<HttpError>(value_); }

 private:
  std::variant<HttpResponse, HttpError> value_;
};

} // namespace orvex
