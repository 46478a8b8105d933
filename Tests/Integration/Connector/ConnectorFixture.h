// An orvex-service in the test's process with its admin API, and a client made
// of the real parts the connector works with: the HTTP client, a logged-in
// OVAuthorization on a main queue of its own thread, the metadata database
// over the share store in a temporary folder. The transfer queues, the share
// list and the real-time channels are recording fakes.
#pragma once

#include "Dispatch/RunLoopMainQueue.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCache.h"
#include "Store/OVFileCacheEraser.h"
#include "Support/FakeUserAlerts.h"
#include "Support/ServiceClient.h"
#include "Support/ServiceHarness.h"
#include "Support/TempDir.h"
#include "Sync/Connector/OVConnector.h"
#include "Sync/OVMetadataStorage.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex::test {

inline constexpr const char* kPrimary = "orvex.example";
inline constexpr const char* kPartner = "partner.example";

// Wakes waiting tests whenever a fake or the log hears something. Thread-safe.
class Signal {
 public:
  void notify();
  // Waits until `condition` holds (checked after every notification), at most 90 seconds.
  bool waitUntil(const std::function<bool()>& condition);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

// The fakes below are thread-safe: the connector calls them on its queues.
class RecordingDownloads final : public OVDownloadQueueControl {
 public:
  explicit RecordingDownloads(Signal& signal) : signal_(signal) {}
  void runThread() override { bump(threads); }
  void cancelAllDownloads() override { bump(cancels); }
  void checkAutomaticDownloads() override { bump(checks); }
  std::atomic<int> threads{0}, cancels{0}, checks{0};

 private:
  void bump(std::atomic<int>& counter) {
    ++counter;
    signal_.notify();
  }
  Signal& signal_;
};

class RecordingShareList final : public OVShareListView {
 public:
  explicit RecordingShareList(Signal& signal) : signal_(signal) {}
  void reloadWithShares(std::vector<ManagedSharePtr> shares) override;
  std::atomic<int> reloads{0};
  std::atomic<std::size_t> lastCount{0};

 private:
  Signal& signal_;
};

class RecordingChannel final : public OVRealTimeChannel {
 public:
  void setLoginResponce(const ClientLoginResponse&) override { ++profiles; }
  void connect() override { ++connects; }
  void disconnect() override { ++disconnects; }
  std::atomic<int> profiles{0}, connects{0}, disconnects{0};
};

// The main log's lines while the fixture lives.
class LogLines {
 public:
  explicit LogLines(Signal& signal);
  ~LogLines();
  // Lines containing `text`.
  std::vector<std::string> matching(const std::string& text);
  bool waitFor(const std::string& text, std::size_t count = 1);

 private:
  Signal& signal_;
  std::mutex mutex_;
  std::vector<std::string> lines_; // guarded by mutex_
};

// A reply the service gives instead of its own, and the log line it must cause.
struct FaultCase {
  nlohmann::json fault;
  std::string logged;
};

class ConnectorFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The service's configuration; tests that need other data override it.
  virtual nlohmann::json serviceConfig() const;

  // ---- The service
  AdminReply admin(const std::string& method, const std::string& path, const nlohmann::json& body = nullptr) {
    return server->admin(method, path, body);
  }
  std::int64_t addFault(const nlohmann::json& rule);
  void waitForFault(std::int64_t id, const std::string& query);
  // Removes every fault rule, then answers requests on `path` as `rule` says.
  void answerWith(const std::string& path, nlohmann::json rule);
  // Raw queries of the requests the service received on `path` so far, in order.
  std::vector<std::string> queriesOf(const std::string& path);
  // The share's live nodes as the service lists them, by internal name.
  std::map<std::string, nlohmann::json> serviceNodes(const std::string& shareId);
  // The share's current tick on the server; -2 when the share is not there.
  std::int32_t serviceShareTick(const std::string& shareId);
  // The internal name of the live node of the share named `name`.
  std::string nodeId(const std::string& shareId, const std::string& name);

  // ---- The client
  // Installs fresh tokens of the test user, as after a login.
  void logIn();
  void onMain(const std::function<void()>& fn);
  // A whole pass over all domains, waited for until every catch-up has settled.
  void profilesAndCatchUps();
  // catchUp of the stored share, waited for until catch-ups have settled again.
  void catchUpAndWait(const std::string& shareId);
  // The share's rows of the files table, by internal name.
  std::map<std::string, OVFile> storedNodes(const std::string& shareId);
  bool waitUntil(const std::function<bool()>& condition) { return signal.waitUntil(condition); }

  Signal signal;
  LogLines log{signal};
  TempDir folder;
  ManualClock clock;
  std::unique_ptr<ServiceHarness> server;
  service::OrvexService* service = nullptr; // the server's, for tests that seed its state directly
  std::unique_ptr<SettingsFile> settings;
  std::unique_ptr<OVDeviceIdentity> device;
  std::unique_ptr<RunLoopMainQueue> mainQueue;
  std::thread mainThread;
  FakeUserAlerts alerts;
  std::unique_ptr<OVBrowser> browser;
  std::unique_ptr<OVAuthorizationShell> shell;
  std::unique_ptr<OVAuthorization> auth;
  std::unique_ptr<OVFileCache> cache;
  std::unique_ptr<OVMetadataStorage> store;
  std::unique_ptr<OVFileCacheEraser> eraser;
  std::unique_ptr<OVDatabase> db;
  std::unique_ptr<OVNetworkStatus> network;
  RecordingDownloads downloads{signal};
  RecordingShareList shareList{signal};
  std::mutex channelsMutex;
  std::map<std::string, std::shared_ptr<RecordingChannel>> channels; // guarded by channelsMutex
  std::unique_ptr<OVConnector> connector;
  std::unique_ptr<ServiceClient> browserClient;
};

} // namespace orvex::test
