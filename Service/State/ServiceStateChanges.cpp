// Node changes: journal events of every type but the bytes of an upload.
#include "State/ServiceState.h"

#include "Platform/SafePathComponent.h"
#include "State/Ids.h"

namespace orvex::service {
namespace {

std::string describe(const std::optional<std::string>& text) {
  return text ? "\"" + *text + "\"" : "none";
}

// What the client says about a new or changed node, checked before any of it is used.
std::optional<StateError> checkRequested(const OVVirtualFile& requested) {
  if (!requested.InternalName || !isClientId(*requested.InternalName))
    return StateError::badRequest("OvVirtualFile.InternalName " + describe(requested.InternalName) +
                                  " is not a valid id");
  if (!requested.PublicName || !isSafePathComponent(*requested.PublicName))
    return StateError::badRequest("OvVirtualFile.PublicName " + describe(requested.PublicName) +
                                  " is not a valid name");
  return std::nullopt;
}

bool isLocked(const OVVirtualFile& file) {
  return file.FileLock && file.FileLock->IsLocked.value_or(0).asInt64() == 1;
}

} // namespace

StateResult<std::string> ServiceState::liveParentLocked(const Scope& scope,
                                                        const std::optional<std::string>& parentId) const {
  std::string parent = parentIdLocked(scope, parentId.value_or(""));
  if (!scope.tree->isLiveFolder(parent) || !insideLocked(scope, parent))
    return StateError::unknownNode("No folder " + describe(parentId) + " in share " + scope.share->shareId);
  return parent;
}

std::optional<StateError> ServiceState::lockedByOtherLocked(const StoredNode& node, const Actor& actor) const {
  if (isLocked(node.file) && node.file.FileLock->LockedBy.value_or("") != actor.user)
    return StateError::locked(*node.file.FileLock);
  return std::nullopt;
}

StoredNode ServiceState::newNodeLocked(const Scope& scope, const OVVirtualFile& requested, const std::string& parentId,
                                       const Actor& actor) const {
  StoredNode node;
  OVVirtualFile& file = node.file;
  file.ShareId = scope.tree->shareId();
  file.InternalName = requested.InternalName;
  file.ParrentId = parentId;
  file.PublicName = requested.PublicName;
  file.User = actor.user;
  file.IsFile = requested.IsFile;
  file.CreationTime = requested.CreationTime;
  file.LastAccessTime = requested.LastAccessTime;
  file.LastWriteTime = requested.LastWriteTime;
  file.Attributes = requested.Attributes.value_or(requested.IsFile ? 128 : 16);
  file.POSIXPermissions = requested.POSIXPermissions.value_or(requested.IsFile ? 0644 : 0755);
  file.EndOfFile = 0;
  file.AllocationSize = 0;
  file.CreateTick = scope.tree->nextTick();
  file.UpdateTick = scope.tree->nextTick();
  return node;
}

const StoredNode& ServiceState::recordLocked(const Scope& scope, StoredNode node) {
  const std::string& shareId = scope.tree->shareId();
  const StoredNode& stored = trees_.at(shareId).record(std::move(node));
  store_->saveNode(shareId, stored);
  if (!stored.blobId.empty())
    blobOwners_[stored.blobId] = {shareId, *stored.file.InternalName};
  return stored;
}

OVNewAPIJournalEvent ServiceState::eventLocked(const Scope& scope, ClientJournalEventType type, const StoredNode& node,
                                               const Actor& actor, const std::string& transmitId, bool changed) {
  OVNewAPIJournalEvent event;
  event.TransmitId = transmitId;
  event.UserOrigin = actor.user;
  event.ClientJournalEventType = static_cast<std::int32_t>(type);
  event.OvVirtualFile = node.file;
  event.DeviceId = actor.deviceId;
  event.ShareId = scope.tree->shareId();
  event.ShareTick = node.file.ShareTick;
  event.CreateTick = node.file.CreateTick;
  if (changed && listener_)
    listener_(scope.tree->shareId(), event);
  // The one who asked sees the node through the share it asked about.
  event.OvVirtualFile = viewLocked(scope, node.file);
  event.ShareId = scope.share->shareId;
  return event;
}

StateResult<EventOutcome> ServiceState::applyEvent(const std::string& shareId, const OVNewAPIJournalEvent& event,
                                                   const Actor& actor) {
  if (!event.OvVirtualFile)
    return StateError::badRequest("The journal event has no OvVirtualFile");
  const OVVirtualFile& requested = *event.OvVirtualFile;
  const std::string id = requested.InternalName.value_or("");
  auto asOutcome = [](StateResult<OVNewAPIJournalEvent> recorded) -> StateResult<EventOutcome> {
    if (!recorded)
      return recorded.error();
    EventOutcome outcome;
    outcome.data.ClientJournalEvent = std::move(recorded.value());
    return outcome;
  };
  switch (static_cast<ClientJournalEventType>(event.ClientJournalEventType)) {
    case ClientJournalEventType::Create:
      return create(shareId, requested, actor, event.TransmitId);
    case ClientJournalEventType::Delete:
      return asOutcome(remove(shareId, id, actor, event.TransmitId));
    case ClientJournalEventType::Rename:
      return asOutcome(rename(shareId, id, requested.PublicName.value_or(""), requested.ParrentId.value_or(""), actor,
                              event.TransmitId));
    case ClientJournalEventType::Update:
      return announceContents(shareId, requested, actor, event.TransmitId);
    case ClientJournalEventType::Lock:
    case ClientJournalEventType::Unlock:
      return asOutcome(setLock(shareId, id, event.ClientJournalEventType == 13, actor, event.TransmitId));
  }
  return StateError::badRequest("Unknown ClientJournalEventType " + std::to_string(event.ClientJournalEventType));
}

StateResult<EventOutcome> ServiceState::create(const std::string& shareId, const OVVirtualFile& requested,
                                               const Actor& actor, const std::string& transmitId) {
  if (auto bad = checkRequested(requested))
    return *bad;
  std::lock_guard lock(mutex_);
  auto scope = scopeLocked(shareId, !actor.privileged);
  if (!scope)
    return scope.error();
  auto parent = liveParentLocked(*scope, requested.ParrentId);
  if (!parent)
    return parent.error();
  const StoredNode* existing = scope->tree->find(*requested.InternalName);
  if (existing != nullptr && !existing->file.Deleted) {
    // A repeated create (its reply was lost): a folder stays as it is, a file gets the new contents.
    if (existing->file.IsFile != requested.IsFile || !insideLocked(*scope, *requested.InternalName))
      return StateError::conflict("An item with internal name " + *requested.InternalName + " exists already");
    if (!requested.IsFile) {
      EventOutcome outcome;
      outcome.data.ClientJournalEvent =
          eventLocked(*scope, ClientJournalEventType::Create, *existing, actor, transmitId, false);
      return outcome;
    }
    if (auto locked = lockedByOtherLocked(*existing, actor))
      return *locked;
  }
  if (!requested.IsFile)
    return createFolderLocked(*scope, requested, *parent, actor, transmitId);
  return startUploadLocked(*scope, requested, ClientJournalEventType::Create, actor, transmitId);
}

StateResult<EventOutcome> ServiceState::createFolderLocked(const Scope& scope, const OVVirtualFile& requested,
                                                           const std::string& parentId, const Actor& actor,
                                                           const std::string& transmitId) {
  const StoredNode& stored = recordLocked(scope, newNodeLocked(scope, requested, parentId, actor));
  EventOutcome outcome;
  outcome.status = 201;
  outcome.data.ClientJournalEvent = eventLocked(scope, ClientJournalEventType::Create, stored, actor, transmitId);
  return outcome;
}

StateResult<EventOutcome> ServiceState::announceContents(const std::string& shareId, const OVVirtualFile& requested,
                                                         const Actor& actor, const std::string& transmitId) {
  std::lock_guard lock(mutex_);
  auto target = targetLocked(shareId, requested.InternalName.value_or(""), !actor.privileged);
  if (!target)
    return target.error();
  if (!target->node->file.IsFile)
    return StateError::badRequest("Only files have contents");
  if (auto locked = lockedByOtherLocked(*target->node, actor))
    return *locked;
  return startUploadLocked(target->scope, requested, ClientJournalEventType::Update, actor, transmitId);
}

StateResult<OVNewAPIJournalEvent> ServiceState::rename(const std::string& shareId, const std::string& internalName,
                                                       const std::string& newName, const std::string& newParentId,
                                                       const Actor& actor, const std::string& transmitId) {
  if (!isSafePathComponent(newName))
    return StateError::badRequest("OvVirtualFile.PublicName \"" + newName + "\" is not a valid name");
  std::lock_guard lock(mutex_);
  auto target = targetLocked(shareId, internalName, !actor.privileged);
  if (!target)
    return target.error();
  const Scope& scope = target->scope;
  auto parent = liveParentLocked(scope, newParentId);
  if (!parent)
    return parent.error();
  if (scope.tree->isWithin(*parent, internalName))
    return StateError::badRequest("A folder cannot be moved into itself");
  if (auto locked = lockedByOtherLocked(*target->node, actor))
    return *locked;
  StoreBatch batch(*store_);
  noteCrossingsLocked(scope, internalName, *parent);
  StoredNode changed = *target->node;
  changed.file.PublicName = newName;
  changed.file.ParrentId = *parent;
  const StoredNode& stored = recordLocked(scope, std::move(changed));
  return eventLocked(scope, ClientJournalEventType::Rename, stored, actor, transmitId);
}

StateResult<OVNewAPIJournalEvent> ServiceState::remove(const std::string& shareId, const std::string& internalName,
                                                       const Actor& actor, const std::string& transmitId) {
  std::lock_guard lock(mutex_);
  auto target = targetLocked(shareId, internalName, !actor.privileged);
  if (!target)
    return target.error();
  const Scope& scope = target->scope;
  // Nothing is deleted while anything in the subtree is locked by someone else.
  std::vector<std::string> pending{internalName};
  while (!pending.empty()) {
    const StoredNode* item = scope.tree->find(pending.back());
    pending.pop_back();
    if (auto locked = lockedByOtherLocked(*item, actor))
      return *locked;
    for (std::string& child : scope.tree->liveChildren(*item->file.InternalName))
      pending.push_back(std::move(child));
  }
  StoreBatch batch(*store_);
  const StoredNode& stored = markDeletedLocked(scope, internalName, actor, transmitId);
  return eventLocked(scope, ClientJournalEventType::Delete, stored, actor, transmitId);
}

const StoredNode& ServiceState::markDeletedLocked(const Scope& scope, const std::string& internalName,
                                                  const Actor& actor, const std::string& transmitId) {
  // Children first, so that the folder's own change carries the share's latest tick.
  for (const std::string& child : scope.tree->liveChildren(internalName)) {
    const StoredNode& gone = markDeletedLocked(scope, child, actor, transmitId);
    eventLocked(scope, ClientJournalEventType::Delete, gone, actor, transmitId);
  }
  StoredNode changed = *scope.tree->find(internalName);
  changed.file.Deleted = true;
  if (!changed.blobId.empty()) {
    dropBlobLocked(changed.blobId);
    changed.blobId.clear();
  }
  return recordLocked(scope, std::move(changed));
}

StateResult<OVNewAPIJournalEvent> ServiceState::setLock(const std::string& shareId, const std::string& internalName,
                                                        bool locked, const Actor& actor,
                                                        const std::string& transmitId) {
  std::lock_guard lock(mutex_);
  auto target = targetLocked(shareId, internalName, !actor.privileged);
  if (!target)
    return target.error();
  if (!target->node->file.IsFile)
    return StateError::badRequest("Only files can be locked");
  if (auto held = lockedByOtherLocked(*target->node, actor))
    return *held;
  const Scope& scope = target->scope;
  StoredNode changed = *target->node;
  if (locked) {
    FileLock fileLock;
    fileLock.IsLocked = 1;
    fileLock.DeviceId = actor.deviceId;
    fileLock.LockTime = scope.tree->nextTick();
    fileLock.LockedBy = actor.user;
    changed.file.FileLock = std::move(fileLock);
  } else {
    changed.file.FileLock.reset();
  }
  const StoredNode& stored = recordLocked(scope, std::move(changed));
  return eventLocked(scope, locked ? ClientJournalEventType::Lock : ClientJournalEventType::Unlock, stored, actor,
                     transmitId);
}

} // namespace orvex::service
