#include "ServiceFixture.h"

#include "Sync/CatchUpRecords.h"

namespace orvex::service::test {

nlohmann::json ServiceFixture::config() {
  return nlohmann::json::parse(R"({
    "Domains": ["a.example", "b.example"],
    "Users": [
      {"Email": "alice@a.example", "Password": "pw", "PrimaryDomain": "a.example", "Domains": ["b.example"],
       "DisplayName": "Alice", "UserId": "alice-id"},
      {"Email": "bob@a.example", "Password": "pw", "PrimaryDomain": "a.example"}
    ],
    "Companies": [{"CompanyId": "home", "Name": "Home Co", "AssociationType": 1},
                  {"CompanyId": "far", "Name": "Far Co", "AssociationType": 2}],
    "Shares": [
      {"ShareId": "docs", "Name": "Docs", "Domain": "a.example", "CompanyId": "home", "AclType": 2,
       "AclToken": "docs-token"},
      {"ShareId": "ro", "Name": "Read Only", "Domain": "a.example", "CompanyId": "home", "AclType": 0,
       "AclToken": "ro-token"},
      {"ShareId": "hidden", "Name": "Bob's", "Domain": "a.example", "Users": ["bob@a.example"]},
      {"ShareId": "sub", "Name": "Team", "Domain": "a.example", "ParentShareId": "docs", "InternalName": "team",
       "AclToken": "sub-token", "Users": ["alice@a.example"]},
      {"ShareId": "partner", "Name": "Partner", "Domain": "b.example", "CompanyId": "far", "AclToken": "p-token"}
    ],
    "Files": [
      {"Share": "docs", "Path": "Welcome.txt", "Text": "Welcome!", "InternalName": "welcome"},
      {"Share": "docs", "Path": "big.bin", "Size": 300001, "Seed": 7, "InternalName": "big"},
      {"Share": "docs", "Path": "Team", "Folder": true, "InternalName": "team"},
      {"Share": "docs", "Path": "Team/notes.txt", "Text": "notes", "InternalName": "notes",
       "LockedBy": "bob@a.example", "LockDeviceId": "bob-pc"},
      {"Share": "ro", "Path": "fixed.txt", "Text": "fixed", "InternalName": "fixed"}
    ]
  })");
}

void ServiceFixture::start(bool keepState) {
  keepState_ = keepState;
  ServiceOptions options;
  options.config = otherConfig ? *otherConfig : ServiceConfig::fromJson(config(), "test config");
  if (keepState_)
    options.stateDir = stateDir.path();
  if (!tls_) {
    HostMap hosts = HostMap::fromConfig(options.config);
    tls_ = generateTlsMaterial(hosts.hostNames());
  }
  options.tls = tls_;
  service = std::make_unique<OrvexService>(std::move(options));
  std::uint16_t port = service->start();
  client = std::make_unique<ServiceClient>(port, tls_->caCertificatePem);
}

void ServiceFixture::restart() {
  client.reset(); // its kept-alive connection would hold the old server's worker
  service.reset();
  start(keepState_);
}

void ServiceFixture::TearDown() {
  client.reset();
  service.reset();
}

std::string ServiceFixture::token(const std::string& user) {
  auto tokens = service->identity().issueTokens(user);
  EXPECT_TRUE(tokens.has_value()) << user;
  return tokens ? tokens->accessToken : "";
}

HttpReply ServiceFixture::get(const std::string& host, const std::string& target, const std::string& user) {
  return client->get(host, target, token(user));
}

HttpReply ServiceFixture::event(const std::string& method, const std::string& shareId, int type,
                                const OVVirtualFile& file, const std::string& user) {
  OVNewAPIJournalEvent event;
  event.TransmitId = "0f8fad5b-d9cb-469f-a165-70867728950e";
  event.ClientJournalEventType = type;
  event.OvVirtualFile = file;
  event.DeviceId = "test-device";
  std::string target = "/api/shares/" + shareId + "/files";
  if (method != "POST")
    target += "/" + *file.InternalName;
  return client->sendJson(method, kFiles, target, event.toJSONText(), token(user));
}

HttpReply ServiceFixture::chunk(const std::string& url, std::int64_t first, const std::string& bytes,
                                std::int64_t total, const std::string& user) {
  const std::string prefix = std::string("https://") + kFiles;
  EXPECT_EQ(url.rfind(prefix, 0), 0u) << url;
  HttpRequest request;
  request.method = "PUT";
  request.host = kFiles;
  request.target = url.substr(prefix.size());
  request.body = bytes;
  request.bearer = token(user);
  request.headers.push_back("Content-Range: bytes " + std::to_string(first) + "-" +
                            std::to_string(first + static_cast<std::int64_t>(bytes.size()) - 1) + "/" +
                            std::to_string(total));
  return client->send(request);
}

OVVirtualFile ServiceFixture::node(const std::string& id, const std::string& parent, const std::string& name,
                                   bool isFile, std::int64_t size) {
  OVVirtualFile file = nodeSpec(id, parent, name, isFile, size, dateFromSecondsSince1970(1767225600));
  file.AllocationSize = size;
  file.FileLock.emplace();
  file.FileLock->IsLocked = 0;
  return file;
}

OSXCatchUpResponse ServiceFixture::catchUp(const std::string& shareId, std::int64_t from, std::int64_t take,
                                           const std::string& user, const std::string& host) {
  const std::string tick = std::to_string(from);
  const std::string target = "/api/client/catchup?token=" + service->state().share(shareId)->aclToken +
                             "&shareId=" + shareId + "&tickfrom=" + tick + "&tickstart=" + tick +
                             "&ticktake=" + std::to_string(take);
  HttpReply reply = get(host, target, user);
  EXPECT_EQ(reply.status, 200) << reply.body;
  auto page = OSXCatchUpResponse::fromJSONText(reply.body);
  EXPECT_TRUE(page) << page.error();
  return page ? page.value() : OSXCatchUpResponse{};
}

} // namespace orvex::service::test
