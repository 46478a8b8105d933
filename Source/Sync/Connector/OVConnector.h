// The connector: the client's side of the service's client gateway. It knows
// the user's domains, fetches each domain's full profile and merges its shares
// into the store, catches every share up with the server's tree page by page,
// creates public links, and answers who this computer is and whether the
// internet is reachable.
#pragma once

#include "Dispatch/MainQueue.h"
#include "Dispatch/SerialQueue.h"
#include "Network/HttpClient.h"
#include "Network/OVDeviceIdentity.h"
#include "Network/OVNetworkStatus.h"
#include "Network/OVNewAPI.h"
#include "Store/OVDatabase.h"
#include "Store/OVFile.h"
#include "Store/OVShareStore.h"
#include "Sync/Connector/OVConnectorSeams.h"
#include "Sync/Login/OVAuthorization.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

struct OSXCatchUpResponse;
struct CollectedReply;

// The collaborators; each must outlive the connector. The three seams may be
// null while the module behind them does not exist yet.
struct OVConnectorParts {
  HttpClient& http;
  const OVNewAPI& api;
  OVAuthorization& authorization; // fresh tokens and the token's claims
  OVDatabase& database;           // shares, the profile merge and the catch-up merge
  MainQueue& mainQueue;
  OVDeviceIdentity& device;
  OVNetworkStatus& network;
  OVDownloadQueueControl* downloads = nullptr;
  OVUploadQueueControl* uploads = nullptr;
  OVShareListView* shareList = nullptr;
  // True while the real-time channel is switched off ("OVDisableSignalR").
  std::function<bool()> realTimeDisabled = [] { return false; };
  OVRealTimeChannelFactory realTimeChannels = noRealTimeChannels();
};

// Threads: every public member may be called from any thread. Profile replies
// are handled on fullProfileQueue_, catch-up replies one at a time on
// catchupResponseQueue_, public links on publicLinkQueue_; token completions
// and the public-link handler run on the main queue.
// Locks (never nested, none held while another module is called):
// domainsMutex_ guards domains_; srMutex_ guards srConnections_ (the channel
// factory runs under it); catchupMutex_ guards activeCatchupRequests_;
// transfersMutex_ guards transfers_ and stopping_. awaitingDomains_ is atomic.
// Must be destroyed on the main thread, or after the main queue has stopped
// running jobs: token completions still on their way are then dropped, and
// transfers in flight are cancelled.
class OVConnector {
 public:
  using LinkHandler = std::function<void(std::optional<std::string> link)>;

  static constexpr const char* kFullProfileQueueLabel = "com.orvex.clouddrive-osx.fullProfile-response";
  static constexpr const char* kCatchupResponseQueueLabel = "com.orvex.clouddrive-osx.catchupResponseQueue";
  static constexpr const char* kPublicLinkQueueLabel = "com.orvex.clouddrive-osx.publicLink";
  // The start tick of a share never caught up.
  static constexpr std::int32_t kNeverCaughtUp = -1;

  explicit OVConnector(OVConnectorParts parts);
  ~OVConnector();
  OVConnector(const OVConnector&) = delete;
  OVConnector& operator=(const OVConnector&) = delete;

  // ---- Profiles, domains and shares
  // A new pass over the primary domain and every domain of the login token.
  void getFullProfileForAllDomains();
  // A pass for one domain, unless a pass is still outstanding.
  void getFullProfilleForSingleDomain(const std::string& domain);
  // Requests one profile (and counts as one reply of the current pass).
  void getFullProfileForDomain(const std::string& domain);
  // The pass is complete: the shares of domains no longer known go.
  void finishedDomainLogin();

  // Every domain whose profile was requested since construction, in order.
  std::vector<std::string> domains() const;
  bool domainExists(const std::optional<std::string>& domain) const;
  // Profile replies of the current pass still outstanding.
  std::int32_t awaitingDomains() const { return awaitingDomains_.load(); }
  // The service offers locking on every share.
  bool lockAvailableForShare(const ManagedSharePtr& share) const;

  // The domain's real-time channel, made on first use.
  std::shared_ptr<OVRealTimeChannel> srConnectionForDomain(const std::string& domain);
  // Disconnects and forgets every real-time channel.
  void disconnectSignalR();

  // ---- Catch-up
  // Catches the share up from its LastApplyedJournalTick.
  void catchUp(const ManagedShare& share);
  // Sends one page request from `startTick`, unless a request from that tick
  // or an earlier one is in flight for the share.
  void sendCatchupRequest(const ManagedShare& share, std::int32_t startTick);
  // Share id -> start tick of the latest request in flight.
  std::map<std::string, std::int32_t> activeCatchupRequests() const;

  // ---- Lifecycle
  // Once, at start-up: starts the transfer queues' threads.
  void startup();
  // At every logout: cancels transfers, disconnects the real-time channels
  // and ends the profile pass.
  void logout();

  // ---- Public links
  // Returns at once. `creationHandler` is called at most once, on the main
  // queue, with the reply's link (none when the reply had no link); never
  // when anything fails (the failure is logged).
  void createFilePublicLink(const OVFile& file, LinkHandler creationHandler);

  // ---- Device identity and internet probe
  std::string getDeviceId() { return parts_.device.getDeviceId(); }
  std::string getDeviceName() const { return parts_.device.getDeviceName(); }
  std::string getDeviceOS() const { return parts_.device.getDeviceOS(); }
  bool internetReachable() const { return parts_.network.internetReachable(); }
  bool domainReachable(const std::optional<std::string>& domain) const {
    return parts_.network.domainReachable(domain);
  }
  OVDeviceIdentity& deviceIdentity() { return parts_.device; }
  OVNetworkStatus& networkStatus() { return parts_.network; }

 private:
  // Profiles (OVConnectorProfile.cpp).
  void addDomain(const std::string& domain);
  void handleProfileReply(const std::string& domain, const CollectedReply& reply);
  void applyProfile(const std::string& domain, const ClientLoginResponse& profile);
  // One reply of the pass is in (or will never come); the last runs finishedDomainLogin.
  void domainAnswered();

  // Catch-up (OVConnectorCatchUp.cpp).
  void handleCatchupReply(const ManagedSharePtr& share, std::int32_t startTick, const CollectedReply& reply);
  static bool pageIsFull(const OSXCatchUpResponse& page);
  // Asks for the page after the one from `startTick`.
  void continueCatchup(const ManagedShare& share, std::int32_t startTick);
  // Merges a page unless it is empty.
  void mergeCatchupPage(const ManagedShare& share, OSXCatchUpResponse page);
  // Removes the share's entry when it still holds `startTick` (or always, when none).
  void endCatchupRequest(const std::string& shareId, std::optional<std::int32_t> startTick);
  void catchupsSettled();

  // Public links (OVConnectorPublicLink.cpp).
  void sendPublicLinkRequest(const OVFile& file, const HttpRequest& request, LinkHandler handler);

  // Sends `request` with a fresh token and hands the whole reply to `done` on
  // `queue`; `noToken` runs (on the main queue) when no token can be had.
  void sendWithToken(HttpRequest request, SerialQueue& queue, std::function<void(const CollectedReply&)> done,
                     std::function<void()> noToken);
  void forgetTransfer(std::uint64_t id);

  // Constant after construction.
  OVConnectorParts parts_;
  const std::shared_ptr<int> life_ = std::make_shared<int>(0); // main-queue jobs hold a weak copy

  std::atomic<std::int32_t> awaitingDomains_{0};

  mutable std::mutex domainsMutex_;
  std::vector<std::string> domains_; // guarded by domainsMutex_

  std::mutex srMutex_;
  std::map<std::string, std::shared_ptr<OVRealTimeChannel>> srConnections_; // guarded by srMutex_

  mutable std::mutex catchupMutex_;
  std::map<std::string, std::int32_t> activeCatchupRequests_; // guarded by catchupMutex_

  std::mutex transfersMutex_;
  std::map<std::uint64_t, std::shared_ptr<HttpTransfer>> transfers_; // guarded by transfersMutex_
  std::uint64_t nextTransferId_ = 0;                                 // guarded by transfersMutex_
  bool stopping_ = false;                                            // guarded by transfersMutex_

  // Last: destroyed first, finishing the replies they were given.
  SerialQueue fullProfileQueue_{kFullProfileQueueLabel};
  SerialQueue catchupResponseQueue_{kCatchupResponseQueueLabel};
  SerialQueue publicLinkQueue_{kPublicLinkQueueLabel};
};

} // namespace orvex
