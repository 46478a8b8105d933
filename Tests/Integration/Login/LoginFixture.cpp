#include "LoginFixture.h"

#include "Network/HttpClientOptions.h"

#include <httplib.h>

namespace orvex::test {

namespace {

constexpr std::chrono::seconds kWait{20};

nlohmann::json serviceConfig() {
  return nlohmann::json::parse(R"({
    "Domains": ["orvex.example", "partner.example"],
    "Users": [{"Email": "alice@orvex.example", "Password": "pw", "PrimaryDomain": "orvex.example",
               "Domains": ["partner.example"]}]
  })");
}

} // namespace

bool RequestLog::beforeHandling(const httplib::Request& request, const std::string& host, httplib::Response& response) {
  std::lock_guard lock(mutex_);
  lines_.push_back({host + request.path, request.method + " " + service::rawQuery(request) + " " + request.body});
  auto fault = faults_.find(request.path);
  if (fault == faults_.end())
    return false;
  response.status = 200;
  response.set_content(fault->second, "application/json");
  return true;
}

void RequestLog::answerWith(const std::string& path, const std::string& body) {
  std::lock_guard lock(mutex_);
  faults_[path] = body;
}

std::vector<std::string> RequestLog::linesFor(const std::string& hostPath) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& [path, line] : lines_)
    if (path == hostPath)
      out.push_back(line);
  return out;
}

bool FakeBrowser::openURL(const std::string& url) {
  std::lock_guard lock(mutex_);
  pages_.push_back(url);
  changed_.notify_all();
  return true;
}

std::vector<std::string> FakeBrowser::waitForPages(std::size_t count) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, kWait, [&] { return pages_.size() >= count; });
  return pages_;
}

void FakeShell::setLoginMenuTitle(const std::string& title) {
  {
    std::lock_guard lock(mutex_);
    title_ = title;
  }
  bump(titleUpdates);
}

std::string FakeShell::menuTitle() {
  std::lock_guard lock(mutex_);
  return title_;
}

void FakeShell::bump(std::atomic<int>& counter) {
  std::lock_guard lock(mutex_);
  ++counter;
  changed_.notify_all();
}

bool FakeShell::waitFor(const std::atomic<int>& counter, int value) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kWait, [&] { return counter.load() >= value; });
}

void LoginFixture::SetUp() {
  service::ServiceOptions options;
  options.config = service::ServiceConfig::fromJson(serviceConfig(), "login test");
  options.certDir = folder / "tls";
  options.tokenLifetime = kTokenLifetime;
  options.autoApprove = true;
  service = std::make_unique<service::OrvexService>(std::move(options), clock);
  std::uint16_t port = service->start();
  requests = std::make_shared<RequestLog>();
  service->observers().add(requests);
  browserClient = std::make_unique<ServiceClient>(port, service->tls().caCertificatePem);

  brand = BrandFile::fromJson(service->brandSnippet(), folder / "brand.json");
  brand.oauthTenant = "T1";
  brand.localAuth = "1";
  XdgEnvironment noProxy{[](const std::string&) { return std::optional<std::string>(); },
                         [] { return std::optional<std::string>(); }};
  http = std::make_unique<HttpClient>(HttpClientOptions::forDeployment(brand.deployment, noProxy));
  settings = std::make_unique<SettingsFile>(folder / "settings.json", SettingsSchema{}, clock);
  DeviceSources sources{folder / "no-machine-id", [] { return std::string("My Laptop"); },
                        [] { return std::string("6.1.0-18-amd64"); }};
  device = std::make_unique<OVDeviceIdentity>(
      DeviceIdSetting{[] { return std::optional<std::string>("DEV-1"); }, [](const std::string&) {}}, sources);

  mainQueue = std::make_unique<RunLoopMainQueue>(clock);
  mainThread = std::thread([this] { mainQueue->run(); });
  socketPath = folder / "control";
  restartClient();
}

void LoginFixture::restartClient(std::string issuer) {
  handoff.reset();
  if (auth)
    onMain([this] { auth.reset(); });
  OVAuthorizationConfig config = OVAuthorizationConfig::fromBrand(brand);
  if (!issuer.empty())
    config.issuer = issuer;
  // Below the tokens' lifetime, so that a token is fresh until the test moves the clock.
  config.refreshTolerance = std::chrono::seconds(1);
  auth = std::make_unique<OVAuthorization>(
      config, OVAuthorizationParts{*settings, *http, *mainQueue, alerts, browser, shell, *device,
                                   [this] { return internet.load(); }, clock});
  handoff = OVUrlHandoff::listen(
      socketPath, [this](std::string url) { mainQueue->async([this, url] { auth->handleGetURLEvent(url); }); });
  ASSERT_TRUE(handoff);
}

void LoginFixture::TearDown() {
  handoff.reset();
  onMain([this] { auth.reset(); });
  mainQueue->quit();
  mainThread.join();
  // Kept-alive connections would hold the server's workers until they time out.
  http.reset();
  browserClient.reset();
  service.reset();
}

void LoginFixture::onMain(std::function<void()> fn) {
  mainQueue->sync(fn);
}

HttpReply LoginFixture::visit(const std::string& url) {
  const std::string scheme = "https://";
  EXPECT_EQ(url.rfind(scheme, 0), 0u) << url;
  std::size_t slash = url.find('/', scheme.size());
  return browserClient->get(url.substr(scheme.size(), slash - scheme.size()), url.substr(slash));
}

bool LoginFixture::openURL(const std::string& url) {
  return OVUrlHandoff::send(socketPath, url);
}

void LoginFixture::login() {
  std::size_t before = browser.waitForPages(0).size();
  int logins = shell.logins.load();
  onMain([this] { auth->performAuth(); });
  auto pages = browser.waitForPages(before + 1);
  ASSERT_EQ(pages.size(), before + 1);
  HttpReply reply = visit(pages.back());
  ASSERT_TRUE(reply.status == 302 || reply.status == 303) << reply.status << reply.body;
  ASSERT_TRUE(openURL(reply.header("Location")));
  ASSERT_TRUE(shell.waitFor(shell.logins, logins + 1));
}

std::pair<bool, std::string> LoginFixture::bearer() {
  std::promise<std::pair<bool, std::string>> done;
  auth->fetchAuthBearerWithCompletion([&done](bool ok, std::string value) { done.set_value({ok, value}); });
  auto future = done.get_future();
  EXPECT_EQ(future.wait_for(kWait), std::future_status::ready);
  return future.get();
}

std::vector<std::string> LoginFixture::received(const std::string& path) {
  return requests->linesFor(brand.deployment.identityProviderHostLabel + "." + brand.deployment.defaultDomain + path);
}

} // namespace orvex::test
