#include "ConnectorFixture.h"

#include "OVLogger.h"
#include "Support/QuietShell.h"

#include <future>

namespace orvex::test {

namespace {

// Generous: a page of 10000 nodes merged under the sanitizers on a busy machine takes a while.
constexpr std::chrono::seconds kWait{90};
// Conditions that no fake reports (a counter of the connector) are looked at again this often.
constexpr std::chrono::milliseconds kRecheck{10};
constexpr const char* kUser = "alice@orvex.example";

} // namespace

void Signal::notify() {
  { std::lock_guard lock(mutex_); }
  changed_.notify_all();
}

bool Signal::waitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  std::unique_lock lock(mutex_);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    changed_.wait_for(lock, kRecheck);
  }
  return true;
}

void RecordingShareList::reloadWithShares(std::vector<ManagedSharePtr> shares) {
  lastCount = shares.size();
  ++reloads;
  signal_.notify();
}

LogLines::LogLines(Signal& signal) : signal_(signal) {
  static TempDir logFolder; // the logger hands lines on only once its files are open
  static const bool opened = [] {
    OVLogger::shared().initLogs(logFolder.path());
    return true;
  }();
  (void)opened;
  OVLogger::shared().flush();
  OVLogger::shared().setGUIHandler([this](const std::string& line, unsigned type) {
    if (type == kLogMain) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    }
    signal_.notify();
  });
  OVLogger::shared().setLogToGUI(true);
}

LogLines::~LogLines() {
  OVLogger::shared().flush();
  OVLogger::shared().setLogToGUI(false);
  OVLogger::shared().setGUIHandler(nullptr);
}

std::vector<std::string> LogLines::matching(const std::string& text) {
  OVLogger::shared().flush();
  std::lock_guard lock(mutex_);
  std::vector<std::string> found;
  for (const auto& line : lines_) {
    if (line.find(text) != std::string::npos) {
      found.push_back(line);
    }
  }
  return found;
}

bool LogLines::waitFor(const std::string& text, std::size_t count) {
  return signal_.waitUntil([&] {
    std::lock_guard lock(mutex_);
    std::size_t seen = 0;
    for (const auto& line : lines_) {
      seen += line.find(text) != std::string::npos ? 1 : 0;
    }
    return seen >= count;
  });
}

nlohmann::json ConnectorFixture::serviceConfig() const {
  return nlohmann::json::parse(R"({
    "Domains": ["orvex.example", "partner.example"],
    "Users": [{"Email": "alice@orvex.example", "Password": "pw", "PrimaryDomain": "orvex.example",
               "Domains": ["orvex.example", "partner.example"]},
              {"Email": "bob@orvex.example", "Password": "pw", "PrimaryDomain": "orvex.example"}],
    "Shares": [
      {"ShareId": "docs", "Name": "Documents", "Domain": "orvex.example", "AclToken": "docs-token"},
      {"ShareId": "px", "Name": "Partner Exchange", "Domain": "partner.example", "AclToken": "px-token"}
    ],
    "Files": [
      {"Share": "docs", "Path": "Reports/q1.txt", "Text": "first quarter"},
      {"Share": "docs", "Path": "readme.txt", "Text": "hello"},
      {"Share": "docs", "Path": "old.txt", "Text": "old"},
      {"Share": "docs", "Path": "notes.txt", "Text": "mine"},
      {"Share": "px", "Path": "contract.txt", "Text": "signed"}
    ]
  })");
}

void ConnectorFixture::SetUp() {
  server = std::make_unique<ServiceHarness>(serviceConfig(), "connector test", folder.path(), clock, kWait);
  service = &server->service();
  const std::uint16_t port = server->port();
  browserClient = std::make_unique<ServiceClient>(port, service->tls().caCertificatePem);

  settings = std::make_unique<SettingsFile>(folder / "settings.json", SettingsSchema{}, clock);
  device = std::make_unique<OVDeviceIdentity>(
      DeviceIdSetting{[] { return std::optional<std::string>("DEV-1"); }, [](const std::string&) {}});
  mainQueue = std::make_unique<RunLoopMainQueue>(clock);
  mainThread = std::thread([this] { mainQueue->run(); });
  browser = std::make_unique<NoBrowser>();
  shell = std::make_unique<QuietShell>();
  auth = std::make_unique<OVAuthorization>(OVAuthorizationConfig::fromBrand(server->brand()),
                                           OVAuthorizationParts{*settings, server->http(), *mainQueue, alerts, *browser,
                                                                *shell, *device, [] { return true; }, clock});

  cache = std::make_unique<OVFileCache>(folder / "Orvex", clock);
  store = std::make_unique<OVMetadataStorage>(*cache, *mainQueue, clock);
  eraser = std::make_unique<OVFileCacheEraser>(*cache);
  db = std::make_unique<OVDatabase>(*cache, *store, *eraser, "1.0.0", clock);
  db->load(false);
  network = std::make_unique<OVNetworkStatus>(std::make_unique<OVInternetProbe>(ProbeTarget{"127.0.0.1", port}, clock));

  OVConnectorParts parts{server->http(), server->api(), *auth, *db, *mainQueue, *device, *network};
  parts.downloads = &downloads;
  parts.shareList = &shareList;
  parts.realTimeChannels = [this](const std::string& domain) {
    std::lock_guard lock(channelsMutex);
    auto channel = std::make_shared<RecordingChannel>();
    channels[domain] = channel;
    return channel;
  };
  connector = std::make_unique<OVConnector>(std::move(parts));
}

void ConnectorFixture::TearDown() {
  onMain([this] {
    connector.reset();
    auth.reset();
  });
  mainQueue->quit();
  mainThread.join();
  db->unload();
  store->finishFolderRemovals();
  db.reset();
  store.reset();
  network.reset();
  // Kept-alive connections would hold the service's workers until they time out.
  browserClient.reset();
  service = nullptr;
  server.reset();
}

std::int64_t ConnectorFixture::addFault(const nlohmann::json& rule) {
  AdminReply reply = admin("POST", "/faults", rule);
  EXPECT_EQ(reply.status, 201) << reply.body;
  return reply.json().value("Id", std::int64_t{0});
}

void ConnectorFixture::waitForFault(std::int64_t id, const std::string& query) {
  AdminReply reply = admin("GET", "/faults/" + std::to_string(id) + "/wait?" + query);
  ASSERT_EQ(reply.status, 200) << reply.body;
}

void ConnectorFixture::answerWith(const std::string& path, nlohmann::json rule) {
  admin("DELETE", "/faults");
  rule["Path"] = path;
  addFault(rule);
}

std::vector<std::string> ConnectorFixture::queriesOf(const std::string& path) {
  std::vector<std::string> queries;
  for (const auto& request : admin("GET", "/requests?after=0").json()) {
    if (request.value("Path", "") == path) {
      queries.push_back(request.value("Query", ""));
    }
  }
  return queries;
}

std::map<std::string, nlohmann::json> ConnectorFixture::serviceNodes(const std::string& shareId) {
  std::map<std::string, nlohmann::json> nodes;
  AdminReply reply = admin("GET", "/shares/" + shareId + "/nodes");
  EXPECT_EQ(reply.status, 200) << reply.body;
  for (const auto& node : reply.json()) {
    if (!node.value("Deleted", false)) {
      nodes[node.value("InternalName", "")] = node;
    }
  }
  return nodes;
}

std::int32_t ConnectorFixture::serviceShareTick(const std::string& shareId) {
  for (const auto& share : admin("GET", "/shares").json()) {
    if (share.value("ShareId", "") == shareId) {
      return share.value("ShareTick", -2);
    }
  }
  return -2;
}

std::string ConnectorFixture::nodeId(const std::string& shareId, const std::string& name) {
  for (const auto& [id, node] : serviceNodes(shareId)) {
    if (node.value("PublicName", "") == name) {
      return id;
    }
  }
  ADD_FAILURE() << "no node " << name << " in " << shareId;
  return "";
}

void ConnectorFixture::logIn() {
  auto tokens = service->identity().issueTokens(kUser);
  ASSERT_TRUE(tokens);
  OIDCAuthState state;
  state.issuer = auth->authIssuerString();
  state.accessToken = tokens->accessToken;
  state.accessTokenExpiration = clock.wallNow() + std::chrono::seconds(tokens->expiresIn);
  state.refreshToken = tokens->refreshToken;
  state.idToken = tokens->idToken;
  state.scope = "openid profile domain_api offline_access";
  onMain([&] { auth->changeAuthState(state); });
}

void ConnectorFixture::onMain(const std::function<void()>& fn) {
  mainQueue->sync(fn);
}

void ConnectorFixture::profilesAndCatchUps() {
  const int settled = downloads.checks.load();
  connector->getFullProfileForAllDomains();
  // Once no profile is outstanding, every catch-up it started is registered;
  // none left in flight means every page is merged.
  ASSERT_TRUE(waitUntil([&] {
    return connector->awaitingDomains() == 0 && downloads.checks.load() > settled &&
           connector->activeCatchupRequests().empty();
  }));
}

void ConnectorFixture::catchUpAndWait(const std::string& shareId) {
  auto share = db->shareWithId(shareId);
  ASSERT_TRUE(share);
  const int settled = downloads.checks.load();
  connector->catchUp(*share);
  ASSERT_TRUE(
      waitUntil([&] { return downloads.checks.load() > settled && connector->activeCatchupRequests().empty(); }));
}

std::map<std::string, OVFile> ConnectorFixture::storedNodes(const std::string& shareId) {
  std::map<std::string, OVFile> nodes;
  auto rows = db->queryFiles("SELECT * FROM files WHERE shareId = ?", {shareId});
  EXPECT_TRUE(rows);
  for (auto& row : rows.value_or(std::vector<OVFile>{})) {
    nodes.emplace(row.internalName, row);
  }
  return nodes;
}

} // namespace orvex::test
