// File contents: upload sessions and their chunks, contents put in one step,
// and finding the content a download names.
#include "State/ServiceState.h"

#include "OVLogger.h"
#include "Platform/SafePathComponent.h"
#include "State/Ids.h"

#include <fmt/format.h>

namespace orvex::service {
namespace {

// Far above anything a test or the demo moves, far below what the 64-bit
// arithmetic on positions could overflow.
constexpr std::int64_t kMaxContentLength = std::int64_t{1} << 40;

// Clears the "a chunk is being written" mark of an upload however the write ends.
class BusyMark {
 public:
  BusyMark(std::mutex& mutex, std::set<std::string>& busy, std::string address)
      : mutex_(mutex), busy_(busy), address_(std::move(address)) {}
  ~BusyMark() {
    if (!released_) {
      std::lock_guard lock(mutex_);
      busy_.erase(address_);
    }
  }
  BusyMark(const BusyMark&) = delete;
  BusyMark& operator=(const BusyMark&) = delete;
  // Clears the mark now; the caller holds `mutex_`.
  void releaseLocked() {
    busy_.erase(address_);
    released_ = true;
  }

 private:
  std::mutex& mutex_;
  std::set<std::string>& busy_;
  const std::string address_;
  bool released_ = false;
};

} // namespace

StateResult<EventOutcome> ServiceState::startUploadLocked(const Scope& scope, const OVVirtualFile& requested,
                                                          ClientJournalEventType type, const Actor& actor,
                                                          const std::string& transmitId) {
  std::int64_t size = requested.EndOfFile.value_or(0).asInt64();
  if (size < 0 || size > kMaxContentLength)
    return StateError::badRequest(fmt::format("OvVirtualFile.EndOfFile {} is not a file size", size));
  UploadSession session;
  session.shareId = scope.share->shareId;
  session.event.TransmitId = transmitId;
  session.event.UserOrigin = actor.user;
  session.event.ClientJournalEventType = static_cast<std::int32_t>(type);
  session.event.OvVirtualFile = requested;
  session.event.DeviceId = actor.deviceId;
  session.event.ShareId = scope.share->shareId;
  session.expectedLength = size;
  if (size == 0) { // nothing to upload: the file is complete now
    static const std::string kEmptyHash = *contentHash(*seededContent(0, 0));
    auto recorded = storeContentLocked(session, BlobInfo{newServiceId(), 0, 0, kEmptyHash}, actor);
    if (!recorded)
      return recorded.error();
    EventOutcome outcome;
    outcome.status = 201;
    outcome.data.ClientJournalEvent = std::move(recorded.value());
    return outcome;
  }
  expireIdleUploadsLocked(); // a new session is a cheap moment to forget abandoned ones
  std::string error;
  std::optional<std::string> blobId = blobs_->create(error);
  if (!blobId)
    return StateError::internal(error);
  session.address = newServiceId();
  session.blobId = *blobId;
  session.lastActivityMs = nowMsLocked();
  store_->saveUpload(session);
  uploads_[session.address] = session;
  EventOutcome outcome;
  outcome.data.CurrentPosition = 0;
  outcome.data.ExpectedLength = size;
  outcome.uploadAddress = session.address;
  return outcome;
}

StateResult<ChunkOutcome> ServiceState::writeChunk(const std::string& address, std::int64_t first, std::int64_t last,
                                                   std::int64_t total, std::string_view bytes) {
  std::string blobId;
  std::int64_t expected = 0;
  {
    std::lock_guard lock(mutex_);
    auto found = uploads_.find(address);
    if (found != uploads_.end() && isIdleLocked(found->second) && busyUploads_.count(address) == 0) {
      dropUploadLocked(address);
      found = uploads_.end();
    }
    if (found == uploads_.end())
      return StateError::notFound("Unknown upload address");
    const UploadSession& session = found->second;
    expected = session.expectedLength;
    if (total != expected)
      return StateError::badRequest(
          fmt::format("Content-Range total {} is not the announced length {}", total, expected));
    if (first != session.position) {
      StateError error =
          StateError::make(400, kCodeWrongPosition, fmt::format("The upload continues at byte {}", session.position));
      error.currentPosition = session.position;
      error.expectedLength = expected;
      return error;
    }
    if (last < first || last >= total || last - first + 1 != static_cast<std::int64_t>(bytes.size()))
      return StateError::badRequest("The chunk's length does not match its Content-Range");
    if (!busyUploads_.insert(address).second)
      return StateError::conflict("Another chunk of this upload is being received");
    blobId = session.blobId;
  }
  BusyMark busy(mutex_, busyUploads_, address);
  std::string error;
  std::optional<std::string> hash;
  if (blobs_->write(blobId, first, bytes, error) && last + 1 == expected) {
    auto content = blobs_->open(BlobInfo{blobId, expected, std::nullopt, ""});
    hash = content ? contentHash(*content) : std::nullopt;
    if (!hash)
      error = "cannot read back the uploaded content";
  }
  std::lock_guard lock(mutex_);
  busy.releaseLocked();
  return finishChunkLocked(address, static_cast<std::int64_t>(bytes.size()), hash, error);
}

StateResult<ChunkOutcome> ServiceState::finishChunkLocked(const std::string& address, std::int64_t length,
                                                          const std::optional<std::string>& hash,
                                                          const std::string& error) {
  auto found = uploads_.find(address);
  if (found == uploads_.end())
    return StateError::notFound("The upload was cancelled"); // its share went away meanwhile
  if (!error.empty()) {
    OVLog(kLogMain, "Error! Upload {}: {}", address, error);
    return StateError::internal(error);
  }
  UploadSession& session = found->second;
  session.position += length;
  session.lastActivityMs = nowMsLocked();
  ChunkOutcome outcome{false, session.position, session.expectedLength, std::nullopt};
  if (session.position < session.expectedLength) {
    store_->saveUpload(session);
    return outcome;
  }
  UploadSession done = std::move(session);
  uploads_.erase(found);
  StoreBatch batch(*store_);
  store_->removeUpload(address);
  const Actor actor{done.event.UserOrigin.value_or(""), done.event.DeviceId};
  auto recorded = storeContentLocked(done, BlobInfo{done.blobId, done.expectedLength, std::nullopt, *hash}, actor);
  if (!recorded) {
    blobs_->remove(done.blobId);
    return recorded.error();
  }
  outcome.complete = true;
  outcome.event = std::move(recorded.value());
  return outcome;
}

StateResult<OVNewAPIJournalEvent> ServiceState::storeContentLocked(const UploadSession& session, const BlobInfo& blob,
                                                                   const Actor& actor) {
  auto scope = scopeLocked(session.shareId, !actor.privileged);
  if (!scope)
    return scope.error();
  const OVVirtualFile& requested = *session.event.OvVirtualFile;
  const auto type = static_cast<ClientJournalEventType>(session.event.ClientJournalEventType);
  auto parent = liveParentLocked(*scope, requested.ParrentId);
  auto live = liveNodeLocked(*scope, *requested.InternalName);
  if (type == ClientJournalEventType::Update ? !live : !parent)
    return type == ClientJournalEventType::Update ? live.error() : parent.error();
  if (live && (!live.value()->file.IsFile))
    return StateError::conflict("The item " + *requested.InternalName + " is a folder");
  if (live) {
    if (auto locked = lockedByOtherLocked(*live.value(), actor))
      return *locked;
  }
  StoredNode node = live ? *live.value() : newNodeLocked(*scope, requested, *parent, actor);
  std::string oldBlob = node.blobId;
  node.blobId = blob.blobId;
  node.file.LastUploadName = node.file.UploadName;
  node.file.UploadName = blob.blobId;
  node.file.FilehHash = blob.hash;
  node.file.EndOfFile = blob.size;
  node.file.AllocationSize = blob.size;
  node.file.LastWriteTime = requested.LastWriteTime;
  node.file.LastAccessTime = requested.LastAccessTime;
  node.file.UpdateTick = scope->tree->nextTick();
  StoreBatch batch(*store_);
  blobInfo_[blob.blobId] = blob;
  store_->saveBlob(blob);
  if (!oldBlob.empty())
    dropBlobLocked(oldBlob);
  const StoredNode& stored = recordLocked(*scope, std::move(node));
  return eventLocked(*scope, type, stored, actor, session.event.TransmitId);
}

void ServiceState::dropBlobLocked(const std::string& blobId) {
  auto blob = blobInfo_.find(blobId);
  if (blob != blobInfo_.end() && !blob->second.seed)
    blobs_->remove(blobId);
  blobInfo_.erase(blobId);
  blobOwners_.erase(blobId);
  store_->removeBlob(blobId);
}

std::optional<UploadSession> ServiceState::upload(const std::string& address) const {
  std::lock_guard lock(mutex_);
  auto found = uploads_.find(address);
  return found == uploads_.end() || isIdleLocked(found->second) ? std::nullopt : std::optional(found->second);
}

std::int64_t ServiceState::nowMsLocked() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(clock_.wallNow().time_since_epoch()).count();
}

bool ServiceState::isIdleLocked(const UploadSession& session) const {
  const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(uploadIdleLimit_).count();
  return nowMsLocked() - session.lastActivityMs > limit;
}

void ServiceState::expireIdleUploadsLocked() {
  std::vector<std::string> idle;
  for (const auto& [address, session] : uploads_) {
    if (isIdleLocked(session) && busyUploads_.count(address) == 0)
      idle.push_back(address);
  }
  for (const std::string& address : idle)
    dropUploadLocked(address);
}

void ServiceState::dropUploadLocked(const std::string& address) {
  auto found = uploads_.find(address);
  OVLog(kLogMain, "orvex-service: upload {} of share {} had no chunk for too long; dropped at byte {} of {}", address,
        found->second.shareId, found->second.position, found->second.expectedLength);
  blobs_->remove(found->second.blobId);
  store_->removeUpload(address);
  uploads_.erase(found);
}

StateResult<OVNewAPIJournalEvent> ServiceState::putBlob(const std::string& shareId, const OVVirtualFile& requested,
                                                        const Actor& actor, const BlobInfo& blob) {
  if (!requested.InternalName || !isClientId(*requested.InternalName) || !requested.PublicName ||
      !isSafePathComponent(*requested.PublicName)) {
    return StateError::badRequest("A file needs a valid internal name and name");
  }
  std::lock_guard lock(mutex_);
  auto scope = scopeLocked(shareId, !actor.privileged);
  if (!scope)
    return scope.error();
  const bool exists = liveNodeLocked(*scope, *requested.InternalName).ok();
  UploadSession session;
  session.shareId = shareId;
  session.event.TransmitId = newGuid();
  session.event.UserOrigin = actor.user;
  session.event.ClientJournalEventType =
      static_cast<std::int32_t>(exists ? ClientJournalEventType::Update : ClientJournalEventType::Create);
  session.event.OvVirtualFile = requested;
  session.event.OvVirtualFile->IsFile = true;
  session.event.DeviceId = actor.deviceId;
  return storeContentLocked(session, blob, actor);
}

StateResult<OVNewAPIJournalEvent> ServiceState::putFile(const std::string& shareId, const OVVirtualFile& requested,
                                                        std::string_view bytes, const Actor& actor) {
  std::string error;
  std::optional<std::string> blobId = blobs_->create(error);
  if (!blobId || !blobs_->write(*blobId, 0, bytes, error))
    return StateError::internal(error);
  BlobInfo blob{*blobId, static_cast<std::int64_t>(bytes.size()), std::nullopt, ""};
  auto content = blobs_->open(blob);
  auto hash = content ? contentHash(*content) : std::nullopt;
  auto recorded = hash ? putBlob(shareId, requested, actor, BlobInfo{*blobId, blob.size, std::nullopt, *hash})
                       : StateResult<OVNewAPIJournalEvent>(StateError::internal("cannot read back " + *blobId));
  if (!recorded)
    blobs_->remove(*blobId);
  return recorded;
}

StateResult<OVNewAPIJournalEvent> ServiceState::putSeeded(const std::string& shareId, const OVVirtualFile& requested,
                                                          std::uint64_t seed, const Actor& actor) {
  std::int64_t size = requested.EndOfFile.value_or(0).asInt64();
  if (size < 0 || size > kMaxContentLength)
    return StateError::badRequest(fmt::format("{} is not a file size", size));
  auto hash = contentHash(*seededContent(seed, size));
  return putBlob(shareId, requested, actor, BlobInfo{newServiceId(), size, seed, hash.value_or("")});
}

StateResult<ContentView> ServiceState::content(const std::string& shareId, const std::string& uploadName) const {
  std::lock_guard lock(mutex_);
  auto scope = scopeLocked(shareId, false);
  if (!scope)
    return scope.error();
  auto owner = blobOwners_.find(uploadName);
  auto blob = blobInfo_.find(uploadName);
  if (owner == blobOwners_.end() || blob == blobInfo_.end() || owner->second.first != scope->tree->shareId())
    return StateError::notFound("No content " + uploadName + " in share " + shareId);
  auto node = liveNodeLocked(*scope, owner->second.second);
  if (!node || node.value()->blobId != uploadName)
    return StateError::notFound("No content " + uploadName + " in share " + shareId);
  auto content = blobs_->open(blob->second);
  if (!content)
    return StateError::internal("The content " + uploadName + " cannot be read");
  return ContentView{content, node.value()->file.PublicName.value_or("")};
}

} // namespace orvex::service
