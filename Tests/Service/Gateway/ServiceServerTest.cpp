#include "Server/ServiceServer.h"

#include <gtest/gtest.h>

namespace orvex::service {
namespace {

// Regression: stop() called before the listen loop had begun left the listener
// thread in accept() and the join in stop() hung.
TEST(ServiceServerTest, StoppingRightAfterStartingEndsTheListener) {
  ServiceConfig config = ServiceConfig::fromJson(
      {{"Domains", {"a.example"}},
       {"Users", {{{"Email", "a@a.example"}, {"Password", "pw"}, {"PrimaryDomain", "a.example"}}}}},
      "test");
  HostMap hosts = HostMap::fromConfig(config);
  TlsMaterial tls = generateTlsMaterial(hosts.hostNames());
  RequestObservers observers;
  for (int round = 0; round < 20; ++round) {
    ServiceServer server(
        tls, hosts, [](const httplib::Request&, httplib::Response&, const HostRoute&) {}, observers);
    EXPECT_GT(server.start(), 0);
    server.stop();
  }
}

} // namespace
} // namespace orvex::service
