// Everything the service knows: shares, their nodes and ticks, content blobs,
// upload sessions, public links and the real-time hub's cookies. The client
// gateway, the file cache and the admin API all change it through the same
// operations, so that a change made "as another user" is indistinguishable
// from one a client made.
//
// Every change of a node advances its share's tick by one and stamps the node
// with it (Tick and ShareTick); catch-up answers from those stamps. A
// subfolder share has no nodes or tick of its own: it shows the subtree of one
// folder of its parent share and counts that share's ticks. A move across
// that folder's border is reported to it as an arrival (the node and all
// below it) or as a deletion (the same nodes), at the tick of the move.
//
// Thread-safe: one mutex (mutex_) guards all of it, and is held while changes
// are written through to the StateStore, so the store sees them in tick order.
// Chunk bytes are written to blob files, and hashed, with the mutex released.
#pragma once

#include "Dispatch/Clock.h"
#include "State/BlobStore.h"
#include "State/NodeTree.h"
#include "State/StateResult.h"
#include "State/StateStore.h"
#include "State/StateTypes.h"
#include "State/SubtreeCrossings.h"
#include "Sync/CatchUpRecords.h"
#include "Sync/JournalRecords.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace orvex::service {

// What an accepted journal event answers.
struct EventOutcome {
  int status = 200;
  OVNewAPIResponceData data;                // the recorded event, or the upload's position and length
  std::optional<std::string> uploadAddress; // bytes are expected there (the API makes Data.Url of it)
};

struct ChunkOutcome {
  bool complete = false;
  std::int64_t position = 0;
  std::int64_t expectedLength = 0;
  std::optional<OVNewAPIJournalEvent> event; // the recorded event once complete
};

struct ContentView {
  std::shared_ptr<const ContentSource> content;
  std::string name; // the node's PublicName
};

struct ShareView {
  ShareInfo info;
  std::int32_t tick = 0;
  std::optional<CompanyInfo> company;
};

// Told about every recorded change, with mutex_ held so that calls come in
// tick order: it must only hand the event on, never call back into the state.
using ChangeListener = std::function<void(const std::string& shareId, const OVNewAPIJournalEvent& event)>;

class ServiceState {
 public:
  ServiceState(std::unique_ptr<StateStore> store, std::unique_ptr<BlobStore> blobs, Clock& clock);
  ~ServiceState();
  ServiceState(const ServiceState&) = delete;
  ServiceState& operator=(const ServiceState&) = delete;

  // Reads back what the store holds; true when seed data was applied in an earlier run.
  bool restore();
  void markSeeded();
  void setCompanies(std::vector<CompanyInfo> companies);
  void setChangeListener(ChangeListener listener);
  // Upload sessions without a chunk for longer than this are dropped with their bytes (default 24 h).
  void setUploadIdleLimit(Clock::Duration limit);

  // ---- Shares
  std::vector<ShareInfo> shares() const;
  std::optional<ShareInfo> share(const std::string& shareId) const;
  // The shares of `domain` that `user` sees, with their ticks and companies.
  std::vector<ShareView> sharesFor(const std::string& user, const std::string& domain) const;
  // The share when it belongs to `domain` (404 otherwise) and `user` sees it (403 otherwise).
  StateResult<ShareInfo> shareFor(const std::string& user, const std::string& domain, const std::string& shareId) const;
  StateResult<ShareInfo> addShare(ShareInfo share);
  StateResult<ShareInfo> removeShare(const std::string& shareId);
  StateResult<ShareInfo> renameShare(const std::string& shareId, const std::string& name);
  StateResult<ShareInfo> setAcl(const std::string& shareId, std::int32_t aclType, const std::string& aclToken);

  // ---- Nodes
  // The nodes whose tick is above `from`, ascending, at most `take`; deleted nodes included.
  StateResult<OSXCatchUpResponse> catchUp(const std::string& shareId, std::int64_t from, std::int64_t take) const;
  // Every node of the share (deleted ones too), as catch-up shows them.
  StateResult<std::vector<OVVirtualFile>> nodes(const std::string& shareId) const;
  std::optional<OVVirtualFile> node(const std::string& shareId, const std::string& internalName) const;

  // A client's journal event for a node of `shareId`, by its type.
  StateResult<EventOutcome> applyEvent(const std::string& shareId, const OVNewAPIJournalEvent& event,
                                       const Actor& actor);
  // Type 0: a folder or an empty file at once; other files get an upload session.
  StateResult<EventOutcome> create(const std::string& shareId, const OVVirtualFile& requested, const Actor& actor,
                                   const std::string& transmitId);
  // Type 3: new contents of an existing file.
  StateResult<EventOutcome> announceContents(const std::string& shareId, const OVVirtualFile& requested,
                                             const Actor& actor, const std::string& transmitId);
  // Type 2: new name and/or parent.
  StateResult<OVNewAPIJournalEvent> rename(const std::string& shareId, const std::string& internalName,
                                           const std::string& newName, const std::string& newParentId,
                                           const Actor& actor, const std::string& transmitId);
  // Type 1: the node, and for a folder everything below it.
  StateResult<OVNewAPIJournalEvent> remove(const std::string& shareId, const std::string& internalName,
                                           const Actor& actor, const std::string& transmitId);
  // Types 13 and 14.
  StateResult<OVNewAPIJournalEvent> setLock(const std::string& shareId, const std::string& internalName, bool locked,
                                            const Actor& actor, const std::string& transmitId);

  // ---- Contents
  // One chunk for an upload address: bytes first..last (inclusive) of total.
  StateResult<ChunkOutcome> writeChunk(const std::string& address, std::int64_t first, std::int64_t last,
                                       std::int64_t total, std::string_view bytes);
  // The session at `address`; none when it is unknown or idle for too long.
  std::optional<UploadSession> upload(const std::string& address) const;
  // Creates or replaces a file with `bytes` in one step (admin API, literal seed texts).
  StateResult<OVNewAPIJournalEvent> putFile(const std::string& shareId, const OVVirtualFile& requested,
                                            std::string_view bytes, const Actor& actor);
  // The same with seeded content of requested.EndOfFile bytes (demo and benchmark files).
  StateResult<OVNewAPIJournalEvent> putSeeded(const std::string& shareId, const OVVirtualFile& requested,
                                              std::uint64_t seed, const Actor& actor);
  // The content named `uploadName` when it is the current content of a live file of the share.
  StateResult<ContentView> content(const std::string& shareId, const std::string& uploadName) const;

  // ---- Public links and hub cookies
  StateResult<std::string> createPublicLink(const std::string& shareId, const std::string& internalName);
  StateResult<ContentView> linkContent(const std::string& linkId) const;
  std::string issueHubCookie(const std::string& user);
  std::optional<std::string> hubCookieUser(const std::string& cookie) const;

 private:
  // Where a share's nodes are: the tree of the share (or of a subfolder
  // share's parent) and the folder id that stands for its top level.
  struct Scope {
    const ShareInfo* share = nullptr;
    const NodeTree* tree = nullptr; // changed only through recordLocked
    std::string top;
  };
  // A live node and the scope it was found in.
  struct Target {
    Scope scope;
    const StoredNode* node = nullptr;
  };
  // The rest holds mutex_.
  StateResult<Scope> scopeLocked(const std::string& shareId, bool forWriting) const;
  StateResult<Target> targetLocked(const std::string& shareId, const std::string& internalName, bool forWriting) const;
  std::string parentIdLocked(const Scope& scope, const std::string& parentId) const;
  bool insideLocked(const Scope& scope, const std::string& internalName) const;
  StateResult<const StoredNode*> liveNodeLocked(const Scope& scope, const std::string& internalName) const;
  StateResult<std::string> liveParentLocked(const Scope& scope, const std::optional<std::string>& parentId) const;
  std::optional<StateError> lockedByOtherLocked(const StoredNode& node, const Actor& actor) const;
  OVVirtualFile viewLocked(const Scope& scope, const OVVirtualFile& file) const;
  // Catch-up of a subfolder share: its nodes' own changes merged with the moves across its folder's border.
  OSXCatchUpResponse subfolderPageLocked(const Scope& scope, std::int64_t from, std::int64_t take) const;
  // Called before `internalName` moves to `newParent`: notes the move in every subfolder share whose border it crosses.
  void noteCrossingsLocked(const Scope& scope, const std::string& internalName, const std::string& newParent);
  // The node and its live descendants, parents first.
  std::vector<std::string> subtreeLocked(const NodeTree& tree, const std::string& internalName) const;
  const StoredNode& recordLocked(const Scope& scope, StoredNode node);
  // The event of a recorded change, told to the listener unless `changed` is false.
  OVNewAPIJournalEvent eventLocked(const Scope& scope, ClientJournalEventType type, const StoredNode& node,
                                   const Actor& actor, const std::string& transmitId, bool changed = true);
  StoredNode newNodeLocked(const Scope& scope, const OVVirtualFile& requested, const std::string& parentId,
                           const Actor& actor) const;
  StateResult<EventOutcome> startUploadLocked(const Scope& scope, const OVVirtualFile& requested,
                                              ClientJournalEventType type, const Actor& actor,
                                              const std::string& transmitId);
  StateResult<EventOutcome> createFolderLocked(const Scope& scope, const OVVirtualFile& requested,
                                               const std::string& parentId, const Actor& actor,
                                               const std::string& transmitId);
  StateResult<OVNewAPIJournalEvent> storeContentLocked(const UploadSession& session, const BlobInfo& blob,
                                                       const Actor& actor);
  void dropBlobLocked(const std::string& blobId);
  const StoredNode& markDeletedLocked(const Scope& scope, const std::string& internalName, const Actor& actor,
                                      const std::string& transmitId);
  StateResult<OVNewAPIJournalEvent> putBlob(const std::string& shareId, const OVVirtualFile& requested,
                                            const Actor& actor, const BlobInfo& blob);
  std::int64_t nowMsLocked() const;
  bool isIdleLocked(const UploadSession& session) const;
  // Drops every idle session that no chunk is being written to.
  void expireIdleUploadsLocked();
  void dropUploadLocked(const std::string& address);
  StateResult<ChunkOutcome> finishChunkLocked(const std::string& address, std::int64_t length,
                                              const std::optional<std::string>& hash, const std::string& error);

  Clock& clock_;
  const std::unique_ptr<BlobStore> blobs_; // thread-safe on its own

  mutable std::mutex mutex_;
  std::unique_ptr<StateStore> store_;        // guarded by mutex_
  bool seeded_ = false;                      // guarded by mutex_
  std::map<std::string, ShareInfo> shares_;  // guarded by mutex_
  std::map<std::string, NodeTree> trees_;    // guarded by mutex_; one per share that is not a subfolder
  std::map<std::string, BlobInfo> blobInfo_; // guarded by mutex_
  std::map<std::string, std::pair<std::string, std::string>> blobOwners_; // guarded by mutex_: blob -> share, node
  std::map<std::string, UploadSession> uploads_;                          // guarded by mutex_
  std::set<std::string> busyUploads_;                                     // guarded by mutex_: a chunk is being written
  Clock::Duration uploadIdleLimit_ = std::chrono::hours(24);              // guarded by mutex_
  std::map<std::string, PublicLink> links_;                               // guarded by mutex_
  std::map<std::string, SubtreeCrossings> crossings_;                     // guarded by mutex_: per subfolder share
  std::map<std::string, std::string> hubCookies_; // guarded by mutex_: cookie -> user; not persisted
  std::deque<std::string> hubCookieOrder_;        // guarded by mutex_: oldest first
  std::vector<CompanyInfo> companies_;            // guarded by mutex_
  ChangeListener listener_;                       // guarded by mutex_
};

} // namespace orvex::service
