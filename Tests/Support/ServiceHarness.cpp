#include "Support/ServiceHarness.h"

#include "Network/HttpClientOptions.h"

#include <httplib.h>

#include <optional>

namespace orvex::test {
namespace {

std::unique_ptr<service::OrvexService> makeService(const nlohmann::json& config, const std::string& source,
                                                   const std::filesystem::path& folder, Clock& clock) {
  service::ServiceOptions options;
  options.config = service::ServiceConfig::fromJson(config, source);
  options.certDir = folder / "tls";
  return std::make_unique<service::OrvexService>(std::move(options), clock);
}

// No proxy from the environment: every request goes straight to the service.
HttpClientOptions directTo(const BrandFile& brand) {
  XdgEnvironment noProxy{[](const std::string&) { return std::optional<std::string>(); },
                         [] { return std::optional<std::string>(); }};
  return HttpClientOptions::forDeployment(brand.deployment, noProxy);
}

} // namespace

nlohmann::json documentsConfig(const nlohmann::json& moreFiles) {
  nlohmann::json config = nlohmann::json::parse(R"({
    "Domains": ["orvex.example"],
    "Users": [{"Email": "alice@orvex.example", "Password": "pw", "PrimaryDomain": "orvex.example"}],
    "Shares": [{"ShareId": "docs", "Name": "Documents", "Domain": "orvex.example", "AclType": 2}],
    "Files": [
      {"Share": "docs", "Path": "tiny.txt", "Text": "hello"},
      {"Share": "docs", "Path": "mid.bin", "Size": 3000000, "Seed": 3},
      {"Share": "docs", "Path": "big.bin", "Size": 52428800, "Seed": 14}
    ]
  })");
  for (const auto& file : moreFiles)
    config["Files"].push_back(file);
  return config;
}

ServiceHarness::ServiceHarness(const nlohmann::json& config, const std::string& source,
                               const std::filesystem::path& folder, Clock& clock, std::chrono::seconds adminTimeout)
    : service_(makeService(config, source, folder, clock)),
      port_(service_->start()),
      adminPort_(service_->startAdmin(0)),
      adminTimeout_(adminTimeout),
      brand_(BrandFile::fromJson(service_->brandSnippet(), folder / "brand.json")),
      http_(std::make_unique<HttpClient>(directTo(brand_))),
      api_(brand_.deployment) {}

AdminReply ServiceHarness::admin(const std::string& method, const std::string& path, const nlohmann::json& body) {
  httplib::Client client("127.0.0.1", adminPort_);
  client.set_read_timeout(adminTimeout_);
  httplib::Request request;
  request.method = method;
  request.path = path;
  if (!body.is_null()) {
    request.body = body.dump();
    request.set_header("Content-Type", "application/json");
  }
  httplib::Result result = client.send(request);
  return result ? AdminReply{result->status, result->body} : AdminReply{};
}

} // namespace orvex::test
