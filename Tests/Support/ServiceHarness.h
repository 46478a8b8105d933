// An orvex-service in the test's process, over TLS on a free port, with its
// admin API, and the client's side of it as an installed client would have
// it: the brand file the service hands out, the program's HTTP client for that
// deployment and the builder of its requests.
#pragma once

#include "Dispatch/Clock.h"
#include "Network/HttpClient.h"
#include "Network/OVNewAPI.h"
#include "OrvexService.h"
#include "Platform/BrandFile.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace orvex::test {

struct AdminReply {
  int status = 0; // 0: no reply
  std::string body;
  nlohmann::json json() const { return nlohmann::json::parse(body, nullptr, false); }
};

// alice@orvex.example's share "docs" ("Documents") on orvex.example holding
// tiny.txt ("hello") and two files of seeded content, mid.bin (3,000,000
// bytes) and big.bin (50 MiB), then `moreFiles` (entries of "Files").
nlohmann::json documentsConfig(const nlohmann::json& moreFiles = nlohmann::json::array());

// Made, used and destroyed on the test's thread; the service answers on
// threads of its own.
class ServiceHarness {
 public:
  // Starts the service with `config` (`source` names it in configuration
  // errors); its TLS material and the brand file go into `folder`. Throws
  // when the service cannot start. Admin calls wait `adminTimeout` at most.
  ServiceHarness(const nlohmann::json& config, const std::string& source, const std::filesystem::path& folder,
                 Clock& clock, std::chrono::seconds adminTimeout = std::chrono::seconds(60));
  ServiceHarness(const ServiceHarness&) = delete;
  ServiceHarness& operator=(const ServiceHarness&) = delete;

  service::OrvexService& service() { return *service_; }
  std::uint16_t port() const { return port_; }
  const BrandFile& brand() const { return brand_; }
  HttpClient& http() { return *http_; }
  const OVNewAPI& api() const { return api_; }

  // One call to the admin API; `body` is sent as JSON unless null.
  AdminReply admin(const std::string& method, const std::string& path, const nlohmann::json& body = nullptr);

 private:
  const std::unique_ptr<service::OrvexService> service_;
  const std::uint16_t port_;
  const std::uint16_t adminPort_;
  const std::chrono::seconds adminTimeout_;
  const BrandFile brand_;
  // Declared after the service, so destroyed before it: kept-alive
  // connections would hold the service's workers until they time out.
  const std::unique_ptr<HttpClient> http_;
  const OVNewAPI api_;
};

} // namespace orvex::test
