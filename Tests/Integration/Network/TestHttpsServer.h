// An HTTPS server on 127.0.0.1 inside the test process, with a certificate
// from a throw-away CA for the deployment's host names, and what the client
// needs to reach it: the CA file and connect-to entries sending the gateway
// and file-cache hosts of "orvex.example" to it.
#pragma once

#include "Network/HttpClientOptions.h"
#include "Support/TempDir.h"

#include <httplib.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex::test {

inline constexpr const char* kGateway = "https://gateway.orvex.example";
inline constexpr const char* kFiles = "https://files.orvex.example";

// Register routes on server(), then start(). Handlers run on the server's
// threads; record() is thread-safe.
class TestHttpsServer {
 public:
  struct Received {
    std::string method;
    std::string target; // path and query as sent
    httplib::Headers headers;
    std::string body;

    // The first value of that header; "" when it was not sent.
    std::string header(const std::string& name) const {
      auto found = headers.find(name);
      return found == headers.end() ? std::string() : found->second;
    }
  };

  TestHttpsServer();
  TestHttpsServer(const TestHttpsServer&) = delete;
  TestHttpsServer& operator=(const TestHttpsServer&) = delete;
  ~TestHttpsServer();

  httplib::SSLServer& server() { return server_; }
  void start();
  std::uint16_t port() const { return port_; }

  // A deployment under "orvex.example" whose CA (when trusted) and connect-to
  // entries lead the gateway and file-cache hosts here, and the client's
  // options for it in an environment without proxies.
  Deployment deployment(bool trustCA = true) const;
  HttpClientOptions clientOptions(bool trustCA = true) const;

  // Keeps what a handler received, for the test to compare.
  void record(const httplib::Request& request);
  std::vector<Received> received();

 private:
  static const std::filesystem::path& tlsFolder();

  httplib::SSLServer server_;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Received> received_; // guarded by mutex_
};

} // namespace orvex::test
