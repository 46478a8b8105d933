// The in-process service of the gateway tests with its admin listener
// started, and a plain HTTP client for the admin API.
#pragma once

#include "Service/Gateway/ServiceFixture.h"

#include <httplib.h>

namespace orvex::service::test {

struct AdminReply {
  int status = 0; // 0: no reply
  std::string body;
  nlohmann::json json() const { return nlohmann::json::parse(body, nullptr, false); }
};

class AdminFixture : public ServiceFixture {
 protected:
  void SetUp() override;

  // One call to the admin API; `body` is sent as JSON unless null, a text as it is.
  AdminReply admin(const std::string& method, const std::string& path, const nlohmann::json& body = nullptr);
  // Adds a fault rule; answers its id.
  std::int64_t addFault(const nlohmann::json& rule);
  // Waits (on the service, not by sleeping) until rule `id` reaches the state `query` describes.
  nlohmann::json waitForFault(std::int64_t id, const std::string& query);
  // The request log after `sequence`.
  nlohmann::json requestsAfter(std::int64_t sequence = 0);

  std::uint16_t adminPort = 0;
};

} // namespace orvex::service::test
