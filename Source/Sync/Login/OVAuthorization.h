// The login of the application: the browser login with OpenID Connect, the
// authorization state kept in the settings under "authState", fresh access
// tokens for every request, the claims read from the access token, and the
// logout. The application delegate owns one and forwards its menu entry and
// the open-URL events to it.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/MainQueue.h"
#include "Dispatch/SerialQueue.h"
#include "Network/HttpClient.h"
#include "Network/OVDeviceIdentity.h"
#include "Platform/BrandFile.h"
#include "Platform/OVBrowser.h"
#include "Platform/SettingsFile.h"
#include "Sync/Login/OIDCAuthState.h"
#include "Sync/Login/OIDCAuthorizationRequest.h"
#include "Sync/Login/OIDCClient.h"
#include "UI/OVUserAlerts.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace orvex {

// What the application shell does when the login changes. Called on the main thread.
class OVAuthorizationShell {
 public:
  virtual ~OVAuthorizationShell() = default;
  // After a login or a restored login: fetch the profiles, mount the drive.
  virtual void loginPerformed() = 0;
  // After a logout or a failed restore: stop the drive, clear caches and settings.
  virtual void logoutPerformed() = 0;
  // The menu's login entry, already localized ("Logout" or "Log in").
  virtual void setLoginMenuTitle(const std::string& title) = 0;
  virtual void showPreferences() = 0;
  virtual void openStatusMenu() = 0;
  // Uploads still waiting: logging out would lose them.
  virtual bool hasUploads() = 0;
};

struct OVAuthorizationConfig {
  std::string issuer;    // "OVAuthURL"
  std::string tenant;    // "OVOAuthTenant"
  std::string localAuth; // "OVLocalAuth"
  std::string appTitle;
  // A token this close to its expiry is refreshed before it is handed out, so
  // that it does not expire on its way to the server.
  Clock::Duration refreshTolerance = std::chrono::seconds(60);

  static OVAuthorizationConfig fromBrand(const BrandFile& brand);
};

// The collaborators; each must outlive the OVAuthorization.
struct OVAuthorizationParts {
  SettingsFile& settings;
  HttpClient& http;
  MainQueue& mainQueue;
  OVUserAlerts& alerts;
  OVBrowser& browser;
  OVAuthorizationShell& shell;
  OVDeviceIdentity& device;
  std::function<bool()> internetReachable;
  Clock& clock = Clock::system();
};

// A claim: a text, or a list of texts ("domains").
using OVJWTValue = std::variant<std::string, std::vector<std::string>>;

// Threads: the operations run on the main thread, as do all completions and
// shell calls. The fetch operations, isLoggedIn and the claim readers may be
// called from any thread. Provider requests run on authQueue_ (they block);
// its jobs post their results back to the main queue.
// mutex_ guards state_, generation_, refreshing_ and waiters_; it is never held
// across a request, a shell call or a completion. pending_ and
// lastAuthorizationState_ belong to the main thread; discovered_ to authQueue_.
class OVAuthorization {
 public:
  using BearerCompletion = std::function<void(bool ok, std::string bearer)>;
  using RequestCompletion = std::function<void(bool ok, std::optional<HttpRequest> request)>;

  OVAuthorization(OVAuthorizationConfig config, OVAuthorizationParts parts);
  // On the main thread. Waits for a provider request in progress; results
  // still on their way to the main queue are dropped.
  ~OVAuthorization();
  OVAuthorization(const OVAuthorization&) = delete;
  OVAuthorization& operator=(const OVAuthorization&) = delete;

  // The fixed registration of this client with the provider.
  static OIDCClientRegistration registration();

  const std::string& authIssuerString() const { return config_.issuer; }
  bool isLoggedIn() const;
  bool isLoggedInFromUserDefaults() const;
  // A copy of the installed state; nullopt when logged out.
  std::optional<OIDCAuthState> authState() const;

  // Start-up: installs the stored state, then calls loginPerformed, or
  // logoutPerformed when it is not authorized or was issued by another issuer.
  void loadState();
  void saveState();
  void changeAuthState(std::optional<OIDCAuthState> state);

  void performAuth();
  // Main thread: a login is being prepared or waits for the browser's redirect.
  bool isLoginInFlight() const { return loginStarting_ || pending_.has_value(); }
  void logoutFromAuth(bool silent);
  void authLoginButtonClicked();
  // The browser's redirect, handed over by `orvex --open-url`.
  void handleGetURLEvent(const std::string& url);

  std::string getAuthValues();
  // "" when logged out, without an access token, or without the claim.
  OVJWTValue getJWTValueWithKey(const std::string& key) const;
  // The claim "sub".
  std::string getLoggedUserEmail() const;
  bool didChangeDomainAuthority() const;

  // A fresh access token: the request with "Authorization" added, or the
  // "Bearer ..." text. Any thread; completions on the main thread. Callers
  // arriving while a refresh is under way wait for that one.
  void fetchUrlRequestWithCompletion(HttpRequest request, RequestCompletion completion);
  void fetchAuthBearerWithCompletion(BearerCompletion completion);

 private:
  using TokenCompletion = std::function<void(bool ok, const std::string& tokenOrError)>;

  void fetchFreshToken(TokenCompletion completion);
  void finishRefresh(std::uint64_t generation, const OIDCTokenResult& result);
  void stateChanged(OIDCAuthState state);
  void startLogin(const WireResult<OIDCConfiguration>& configuration);
  void exchangeCode(OIDCAuthorizationRequest request, std::string code);
  void finishLogin(const OIDCAuthorizationRequest& request, const OIDCTokenResult& result);
  bool idTokenFits(const OIDCAuthorizationRequest& request, const std::string& idToken) const;
  bool confirmLogout();
  void finishLogout(const WireResult<OIDCConfiguration>& configuration, const std::string& authorizationState,
                    std::uint64_t loginsAtLogout);
  void showNoInternet();
  void refreshLoginMenuTitle();
  // On authQueue_: the provider's endpoints, fetched again when `fresh` or not yet known.
  WireResult<OIDCConfiguration> discover(bool fresh);
  // Runs `work` on authQueue_ and `then` with its result on the main queue,
  // unless this object is gone by then.
  template <class Work, class Then>
  void onAuthQueue(Work work, Then then);

  // Constant after construction.
  const OVAuthorizationConfig config_;
  OVAuthorizationParts parts_;
  const OIDCClient oidc_;
  const std::shared_ptr<int> life_ = std::make_shared<int>(0); // main-queue jobs hold a weak copy

  mutable std::mutex mutex_;
  std::shared_ptr<const OIDCAuthState> state_; // guarded by mutex_
  std::uint64_t generation_ = 0;               // guarded by mutex_; counts installed states
  bool refreshing_ = false;                    // guarded by mutex_
  std::vector<TokenCompletion> waiters_;       // guarded by mutex_

  std::optional<OIDCAuthorizationRequest> pending_; // main thread: the login in the browser
  bool loginStarting_ = false;                      // main thread: performAuth waits for discovery
  std::uint64_t loginsStarted_ = 0;                 // main thread: counts performAuth calls that went ahead
  std::string lastAuthorizationState_;              // main thread: sent with the end-session request
  std::optional<OIDCConfiguration> discovered_;     // authQueue_ only

  SerialQueue authQueue_{"com.orvex.auth"}; // last: drained before the rest goes
};

} // namespace orvex
