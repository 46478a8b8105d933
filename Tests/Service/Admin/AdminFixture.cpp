#include "AdminFixture.h"

namespace orvex::service::test {

void AdminFixture::SetUp() {
  start();
  adminPort = service->startAdmin(0);
}

AdminReply AdminFixture::admin(const std::string& method, const std::string& path, const nlohmann::json& body) {
  httplib::Client http("127.0.0.1", adminPort);
  httplib::Request request;
  request.method = method;
  request.path = path;
  if (!body.is_null()) {
    request.body = body.is_string() ? body.get<std::string>() : body.dump();
    request.set_header("Content-Type", "application/json");
  }
  httplib::Result result = http.send(request);
  if (!result)
    return {};
  return {result->status, result->body};
}

std::int64_t AdminFixture::addFault(const nlohmann::json& rule) {
  AdminReply reply = admin("POST", "/faults", rule);
  EXPECT_EQ(reply.status, 201) << reply.body;
  return reply.json().value("Id", std::int64_t{0});
}

nlohmann::json AdminFixture::waitForFault(std::int64_t id, const std::string& query) {
  AdminReply reply = admin("GET", "/faults/" + std::to_string(id) + "/wait?" + query);
  EXPECT_EQ(reply.status, 200) << reply.body;
  return reply.json();
}

nlohmann::json AdminFixture::requestsAfter(std::int64_t sequence) {
  AdminReply reply = admin("GET", "/requests?after=" + std::to_string(sequence));
  EXPECT_EQ(reply.status, 200) << reply.body;
  return reply.json();
}

} // namespace orvex::service::test
