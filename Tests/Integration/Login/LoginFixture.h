// An orvex-service in the test's process, and one OVAuthorization talking to
// it over TLS with the program's HTTP client, on a main queue of its own
// thread. The browser is a fake that records what it was asked to open; a
// test visits those pages itself and hands the redirect over through the
// control socket, as the desktop runs `orvex --open-url`.
#pragma once

#include "Dispatch/RunLoopMainQueue.h"
#include "OrvexService.h"
#include "Platform/OVUrlHandoff.h"
#include "Support/FakeUserAlerts.h"
#include "Support/ServiceClient.h"
#include "Support/TempDir.h"
#include "Sync/Login/OVAuthorization.h"

#include <gtest/gtest.h>

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

inline constexpr const char* kUser = "alice@orvex.example";
inline constexpr std::chrono::seconds kTokenLifetime{2};

// Thread-safe: written on the main queue, read by the test thread.
class FakeBrowser final : public OVBrowser {
 public:
  bool openURL(const std::string& url) override;
  // The addresses opened so far, once `count` of them are there (or a timeout).
  std::vector<std::string> waitForPages(std::size_t count);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> pages_; // guarded by mutex_
};

// Counts the shell's hand-offs; thread-safe like FakeBrowser.
class FakeShell final : public OVAuthorizationShell {
 public:
  void loginPerformed() override { bump(logins); }
  void logoutPerformed() override { bump(logouts); }
  void setLoginMenuTitle(const std::string& title) override;
  void showPreferences() override {}
  void openStatusMenu() override {}
  bool hasUploads() override { return uploads.load(); }

  // Waits (bounded) until `counter` reaches `value`.
  bool waitFor(const std::atomic<int>& counter, int value);
  std::string menuTitle();

  std::atomic<int> logins{0};
  std::atomic<int> logouts{0};
  std::atomic<int> titleUpdates{0};
  std::atomic<bool> uploads{false};

 private:
  void bump(std::atomic<int>& counter);
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string title_; // guarded by mutex_
};

// Keeps every request the service receives (method, raw query and body by
// host and path), and answers the paths a test has broken with its own reply.
// Thread-safe: the server's workers call in.
class RequestLog final : public service::RequestObserver {
 public:
  bool beforeHandling(const httplib::Request& request, const std::string& host, httplib::Response& response) override;
  // From now on `path` is answered with status 200 and `body`.
  void answerWith(const std::string& path, const std::string& body);
  std::vector<std::string> linesFor(const std::string& hostPath);

 private:
  std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> lines_; // guarded by mutex_
  std::map<std::string, std::string> faults_;              // guarded by mutex_
};

class LoginFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new OVAuthorization on the same settings, as after a restart of the program.
  void restartClient(std::string issuer = "");
  // Runs `fn` on the main queue and waits for it.
  void onMain(std::function<void()> fn);
  // The whole login: performAuth, the authorize page, the redirect through the socket.
  void login();
  // GETs `url` (https) as the browser would; answers the reply.
  HttpReply visit(const std::string& url);
  // Gives `url` to the running instance as `orvex --open-url` does.
  bool openURL(const std::string& url);
  // fetchAuthBearerWithCompletion, waited for.
  std::pair<bool, std::string> bearer();
  // Requests the service received whose path is `path`.
  std::vector<std::string> received(const std::string& path);

  TempDir folder;
  ManualClock clock;
  std::unique_ptr<service::OrvexService> service;
  std::unique_ptr<SettingsFile> settings;
  std::unique_ptr<HttpClient> http;
  std::unique_ptr<RunLoopMainQueue> mainQueue;
  std::thread mainThread;
  FakeUserAlerts alerts;
  FakeBrowser browser;
  FakeShell shell;
  std::unique_ptr<OVDeviceIdentity> device;
  std::atomic<bool> internet{true};
  std::unique_ptr<OVAuthorization> auth;
  std::unique_ptr<OVUrlHandoff> handoff;
  std::filesystem::path socketPath;
  std::shared_ptr<RequestLog> requests;
  std::unique_ptr<ServiceClient> browserClient;
  BrandFile brand;
};

} // namespace orvex::test
