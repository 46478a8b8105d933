// A plain HTTPS client for tests that talk to an orvex-service running in the
// same process: every host name of the deployment is connected to
// 127.0.0.1:PORT (as curl's --connect-to), and the service's generated CA is
// the only one trusted, so certificates are checked exactly as the real
// client checks them.
//
// One instance keeps one libcurl handle, so consecutive requests reuse their
// TLS connection. Not thread-safe: use one instance per thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvex::test {

struct HttpRequest {
  std::string method = "GET";
  std::string host;                  // "gateway.orvex.example"; the port is the service's
  std::string target = "/";          // path and query, sent as given (no encoding)
  std::vector<std::string> headers;  // "Name: value" lines
  std::optional<std::string> body;   // sent with any method, DELETE included
  std::optional<std::string> bearer; // adds "Authorization: Bearer <token>"
};

struct HttpReply {
  long status = 0;   // 0 when no reply came (see `error`)
  std::string error; // libcurl's message when the transfer failed
  std::string body;
  std::multimap<std::string, std::string> headers; // names in lower case, in arrival order

  // The first value of header `name` (any case); "" when absent.
  std::string header(const std::string& name) const;
  // Every value of header `name` (any case), e.g. each "Set-Cookie".
  std::vector<std::string> headerValues(const std::string& name) const;
};

class ServiceClient {
 public:
  // `caPem` is the PEM text of the CA that signed the service's certificate.
  ServiceClient(std::uint16_t port, std::string caPem);
  ~ServiceClient();
  ServiceClient(const ServiceClient&) = delete;
  ServiceClient& operator=(const ServiceClient&) = delete;

  HttpReply send(const HttpRequest& request);

  HttpReply get(const std::string& host, const std::string& target, std::optional<std::string> bearer = {},
                std::vector<std::string> headers = {});
  // A JSON body with "Content-Type: application/json", as the client sends its records.
  HttpReply sendJson(const std::string& method, const std::string& host, const std::string& target,
                     const std::string& json, std::optional<std::string> bearer = {});

  std::uint16_t port() const { return port_; }

 private:
  struct Handle;
  std::uint16_t port_;
  std::string caPem_;
  std::unique_ptr<Handle> handle_;
};

} // namespace orvex::test
