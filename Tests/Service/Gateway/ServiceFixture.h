// An orvex-service running in the test's process on an ephemeral port, with a
// small configuration, and a libcurl client that reaches every host name of
// it over TLS. restart() stops the service and starts a new one on the same
// state folder and certificate, as a restart of the program would.
#pragma once

#include "OrvexService.h"
#include "Support/ServiceClient.h"
#include "Support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace orvex::service::test {

using orvex::test::HttpReply;
using orvex::test::HttpRequest;
using orvex::test::ServiceClient;

inline constexpr const char* kAlice = "alice@a.example"; // domains a.example and b.example
inline constexpr const char* kBob = "bob@a.example";     // domain a.example only
inline constexpr const char* kGateway = "gateway.a.example";
inline constexpr const char* kFiles = "files.a.example";
inline constexpr std::int64_t kBigSize = 300001;
inline constexpr std::uint64_t kBigSeed = 7;

class ServiceFixture : public ::testing::Test {
 public:
  // Shares: docs (a.example, writable, Welcome.txt, big.bin of kBigSize seeded
  // bytes, folder Team with notes.txt), ro (read-only), hidden (bob's only),
  // sub (alice's subfolder share of docs' Team), partner (b.example).
  static nlohmann::json config();

 protected:
  void start(bool keepState = false);
  void restart();
  void TearDown() override;

  std::string token(const std::string& user = kAlice);
  HttpReply get(const std::string& host, const std::string& target, const std::string& user = kAlice);
  // A journal event of `type` for node `file` in share `shareId`, sent as the client sends it.
  HttpReply event(const std::string& method, const std::string& shareId, int type, const OVVirtualFile& file,
                  const std::string& user = kAlice);
  HttpReply chunk(const std::string& url, std::int64_t first, const std::string& bytes, std::int64_t total,
                  const std::string& user = kAlice);
  // A node as the client describes it in an event.
  static OVVirtualFile node(const std::string& id, const std::string& parent, const std::string& name, bool isFile,
                            std::int64_t size = 0);
  // The catch-up page of a share as the gateway answers it (whole share).
  OSXCatchUpResponse catchUp(const std::string& shareId, std::int64_t from = -1, std::int64_t take = 10000,
                             const std::string& user = kAlice, const std::string& host = kGateway);

  orvex::test::TempDir stateDir;
  std::optional<ServiceConfig> otherConfig; // used by start() instead of config()
  std::unique_ptr<OrvexService> service;
  std::unique_ptr<ServiceClient> client;

 private:
  std::optional<TlsMaterial> tls_;
  bool keepState_ = false;
};

} // namespace orvex::service::test
