// A first catch-up of a share of 100,000 nodes from an in-process
// orvex-service into an empty store, end to end through the connector (token,
// TLS, ten pages, parsing, merge), against the merge alone: the same pages
// taken from the service's state in memory and merged into another empty store.
//
// Prints catchup_100k_s (seconds end to end), catchup_nodes_per_s, and
// catchup_vs_merge_ratio (merge alone / end to end: 1 means the network and
// parsing cost nothing beside the merge).
#include "Dispatch/RunLoopMainQueue.h"
#include "Network/HttpClientOptions.h"
#include "OrvexService.h"
#include "State/Ids.h"
#include "State/StateTypes.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"
#include "Store/OVFileCacheEraser.h"
#include "Support/QuietShell.h"
#include "Sync/CatchUpRecords.h"
#include "Sync/Connector/OVConnector.h"
#include "Sync/OVMetadataStorage.h"
#include "Sync/ProfileRecords.h"

#include <fmt/format.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace orvex {
namespace {

constexpr int kNodes = 100000;
constexpr const char* kDomain = "orvex.example";
constexpr const char* kUser = "bench@orvex.example";
constexpr const char* kShareId = "bench";

using Seconds = std::chrono::duration<double>;

// A folder removed at exit.
struct ScratchFolder {
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvex-catchup-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot make a temporary folder");
    }
    path = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;
};

// The end of the last catch-up in flight is the one thing the bench waits for.
class SettleWatch final : public OVDownloadQueueControl {
 public:
  void runThread() override {}
  void cancelAllDownloads() override {}
  void checkAutomaticDownloads() override {
    std::lock_guard lock(mutex_);
    ++settled_;
    changed_.notify_all();
  }
  void waitForSettle(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return settled_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int settled_ = 0; // guarded by mutex_
};

class NoAlerts final : public OVUserAlerts {
 public:
  OVAlertAnswer runModal(const OVAlert& alert) override { return {defaultAnswerIndex(alert), alert.checkboxState}; }
};

std::unique_ptr<service::OrvexService> startService(const std::filesystem::path& folder) {
  service::ServiceOptions options;
  options.config = service::ServiceConfig::fromJson(
      nlohmann::json{{"Domains", {kDomain}},
                     {"Users", {{{"Email", kUser}, {"Password", "pw"}, {"PrimaryDomain", kDomain}}}},
                     {"Shares", {{{"ShareId", kShareId}, {"Name", "Bench"}, {"Domain", kDomain}}}}},
      "catch-up bench");
  options.certDir = folder / "tls";
  auto service = std::make_unique<service::OrvexService>(std::move(options));
  service->start();
  const service::Actor seeder{kUser, "seed", true};
  const OVDate time = OVDateNow();
  for (int i = 0; i < kNodes; ++i) {
    const std::string id = fmt::format("node-{:06}", i);
    // Every hundredth node a folder, the rest files in the share's top folder.
    const bool isFile = i % 100 != 0;
    if (!service->state().create(kShareId, service::nodeSpec(id, kShareId, id, isFile, 0, time), seeder,
                                 service::newGuid())) {
      throw std::runtime_error("seeding failed at node " + id);
    }
  }
  return service;
}

// The store of one client: cache folder, share store and database.
struct ClientStore {
  ClientStore(const std::filesystem::path& root, MainQueue& mainQueue, const std::string& aclToken)
      : cache(root), store(cache, mainQueue), eraser(cache), db(cache, store, eraser, "bench") {
    db.load(false);
    ManagedShare share;
    share.ShareId = kShareId;
    share.ShareName = "Bench";
    share.ShareAcl = ShareACL{};
    share.ShareAcl->AclToken = aclToken;
    ClientLoginResponse profile;
    profile.ManagedShares = std::vector<ManagedShare>{share};
    db.updateShares(profile, kDomain);
  }
  ~ClientStore() { db.unload(); }

  OVFileCache cache;
  OVMetadataStorage store;
  OVFileCacheEraser eraser;
  OVDatabase db;
};

// The pages the client asks for, taken from the service's state.
std::vector<OSXCatchUpResponse> pagesInMemory(service::OrvexService& service) {
  std::vector<OSXCatchUpResponse> pages;
  for (std::int64_t from = OVConnector::kNeverCaughtUp;; from += OVNewAPI::kCatchUpPageSize) {
    auto page = service.state().catchUp(kShareId, from, OVNewAPI::kCatchUpPageSize);
    if (!page) {
      throw std::runtime_error("no page from the service's state");
    }
    const std::size_t count = page->OvVirtualFiles ? page->OvVirtualFiles->size() : 0;
    if (count > 0) {
      pages.push_back(std::move(*page));
    }
    if (count < static_cast<std::size_t>(OVNewAPI::kCatchUpPageSize)) {
      return pages;
    }
  }
}

int run() {
  ScratchFolder folder;
  auto service = startService(folder.path);
  const BrandFile brand = BrandFile::fromJson(service->brandSnippet(), folder.path / "brand.json");
  XdgEnvironment noProxy{[](const std::string&) { return std::optional<std::string>(); },
                         [] { return std::optional<std::string>(); }};
  HttpClient http(HttpClientOptions::forDeployment(brand.deployment, noProxy));
  SettingsFile settings(folder.path / "settings.json", SettingsSchema{});
  OVDeviceIdentity device(
      DeviceIdSetting{[] { return std::optional<std::string>("BENCH"); }, [](const std::string&) {}});
  RunLoopMainQueue mainQueue;
  std::thread mainThread([&] { mainQueue.run(); });
  NoAlerts alerts;
  test::NoBrowser browser;
  test::QuietShell shell;
  auto auth = std::make_unique<OVAuthorization>(
      OVAuthorizationConfig::fromBrand(brand),
      OVAuthorizationParts{settings, http, mainQueue, alerts, browser, shell, device, [] { return true; }});
  const auto tokens = service->identity().issueTokens(kUser);
  OIDCAuthState state;
  state.issuer = auth->authIssuerString();
  state.accessToken = tokens->accessToken;
  state.accessTokenExpiration = std::chrono::system_clock::now() + std::chrono::seconds(tokens->expiresIn);
  state.refreshToken = tokens->refreshToken;
  state.idToken = tokens->idToken;
  mainQueue.sync([&] { auth->changeAuthState(state); });

  const std::string aclToken = service->state().share(kShareId)->aclToken;
  auto client = std::make_unique<ClientStore>(folder.path / "client", mainQueue, aclToken);
  OVNewAPI api(brand.deployment);
  OVNetworkStatus network(std::make_unique<OVInternetProbe>(ProbeTarget{"127.0.0.1", service->port()}));
  SettleWatch settle;
  OVConnectorParts parts{http, api, *auth, client->db, mainQueue, device, network};
  parts.downloads = &settle;
  auto connector = std::make_unique<OVConnector>(std::move(parts));

  const ManagedShare share = *client->db.shareWithId(kShareId);
  const auto started = std::chrono::steady_clock::now();
  connector->catchUp(share);
  settle.waitForSettle(1);
  const Seconds endToEnd = std::chrono::steady_clock::now() - started;
  const auto merged = client->db.queryLong("SELECT COUNT(*) FROM files WHERE shareId = ?", {std::string(kShareId)});

  // The merge alone, into a second empty store.
  const auto pages = pagesInMemory(*service);
  auto baseline = std::make_unique<ClientStore>(folder.path / "baseline", mainQueue, aclToken);
  const ManagedShare baselineShare = *baseline->db.shareWithId(kShareId);
  const auto mergeStarted = std::chrono::steady_clock::now();
  for (const auto& page : pages) {
    baseline->db.updateFilesForShare(page, baselineShare);
  }
  const Seconds mergeOnly = std::chrono::steady_clock::now() - mergeStarted;

  mainQueue.sync([&] {
    connector.reset();
    auth.reset();
  });
  mainQueue.quit();
  mainThread.join();
  client.reset();
  baseline.reset();

  if (merged.value_or(0) != kNodes) {
    std::fprintf(stderr, "catch-up stored %lld nodes of %d\n", static_cast<long long>(merged.value_or(0)), kNodes);
    return 1;
  }
  fmt::print("catchup_100k_s={:.3f}\n", endToEnd.count());
  fmt::print("catchup_nodes_per_s={:.0f}\n", kNodes / endToEnd.count());
  fmt::print("catchup_vs_merge_ratio={:.3f}\n", mergeOnly.count() / endToEnd.count());
  return 0;
}

} // namespace
} // namespace orvex

int main() {
  try {
    return orvex::run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "catch-up bench: %s\n", e.what());
    return 1;
  }
}
