// Construction, restoring, shares, reading nodes, links and hub cookies.
// Node changes are in ServiceStateChanges.cpp, contents in ServiceStateContents.cpp.
#include "State/ServiceState.h"

#include "OVLogger.h"
#include "State/Ids.h"

#include <algorithm>

namespace orvex::service {

ServiceState::ServiceState(std::unique_ptr<StateStore> store, std::unique_ptr<BlobStore> blobs, Clock& clock)
    : clock_(clock), blobs_(std::move(blobs)), store_(std::move(store)) {}

ServiceState::~ServiceState() = default;

bool ServiceState::restore() {
  std::lock_guard lock(mutex_);
  StateSnapshot snapshot = store_->load();
  for (ShareInfo& share : snapshot.shares) {
    if (!share.isSubfolder())
      trees_.emplace(share.shareId, NodeTree(share.shareId));
    shares_[share.shareId] = std::move(share);
  }
  for (auto& [shareId, node] : snapshot.nodes) {
    auto tree = trees_.find(shareId);
    if (tree == trees_.end()) {
      OVLog(kLogMain, "Warning! Stored node {} belongs to no known share {}; left out", *node.file.InternalName,
            shareId);
      continue;
    }
    if (!node.blobId.empty())
      blobOwners_[node.blobId] = {shareId, *node.file.InternalName};
    tree->second.restore(std::move(node));
  }
  for (BlobInfo& blob : snapshot.blobs)
    blobInfo_[blob.blobId] = std::move(blob);
  for (UploadSession& session : snapshot.uploads) {
    if (session.lastActivityMs == 0)
      session.lastActivityMs = nowMsLocked(); // kept by an older version: idle from now on
    uploads_[session.address] = std::move(session);
  }
  for (PublicLink& link : snapshot.links)
    links_[link.linkId] = std::move(link);
  for (auto& [shareId, crossing] : snapshot.crossings) {
    if (shares_.count(shareId) != 0)
      crossings_[shareId].record(std::move(crossing));
  }
  seeded_ = snapshot.seeded;
  return seeded_;
}

void ServiceState::markSeeded() {
  std::lock_guard lock(mutex_);
  seeded_ = true;
  store_->markSeeded();
}

void ServiceState::setCompanies(std::vector<CompanyInfo> companies) {
  std::lock_guard lock(mutex_);
  companies_ = std::move(companies);
}

void ServiceState::setChangeListener(ChangeListener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void ServiceState::setUploadIdleLimit(Clock::Duration limit) {
  std::lock_guard lock(mutex_);
  uploadIdleLimit_ = limit;
}

// ---- Shares

std::vector<ShareInfo> ServiceState::shares() const {
  std::lock_guard lock(mutex_);
  std::vector<ShareInfo> all;
  for (const auto& [id, share] : shares_)
    all.push_back(share);
  return all;
}

std::optional<ShareInfo> ServiceState::share(const std::string& shareId) const {
  std::lock_guard lock(mutex_);
  auto found = shares_.find(shareId);
  return found == shares_.end() ? std::nullopt : std::optional(found->second);
}

std::vector<ShareView> ServiceState::sharesFor(const std::string& user, const std::string& domain) const {
  std::lock_guard lock(mutex_);
  std::vector<ShareView> views;
  for (const auto& entry : shares_) {
    const ShareInfo& share = entry.second;
    if (share.domain != domain || !share.visibleTo(user))
      continue;
    ShareView view{share, 0, std::nullopt};
    auto tree = trees_.find(share.parentShareId.value_or(share.shareId));
    view.tick = tree == trees_.end() ? 0 : tree->second.tick();
    auto company = std::find_if(companies_.begin(), companies_.end(),
                                [&](const CompanyInfo& c) { return c.companyId == share.companyId; });
    if (company != companies_.end())
      view.company = *company;
    views.push_back(std::move(view));
  }
  return views;
}

StateResult<ShareInfo> ServiceState::shareFor(const std::string& user, const std::string& domain,
                                              const std::string& shareId) const {
  std::lock_guard lock(mutex_);
  auto found = shares_.find(shareId);
  if (found == shares_.end() || found->second.domain != domain)
    return StateError::notFound("Unknown share " + shareId);
  if (!found->second.visibleTo(user))
    return StateError::forbidden("The share " + shareId + " is not shared with " + user);
  return found->second;
}

StateResult<ShareInfo> ServiceState::addShare(ShareInfo share) {
  if (!isClientId(share.shareId))
    return StateError::badRequest("A share id must be 1 to 128 letters, digits, '-' or '_'");
  if (share.name.empty())
    return StateError::badRequest("A share needs a name");
  std::lock_guard lock(mutex_);
  if (shares_.count(share.shareId) != 0)
    return StateError::conflict("A share with id " + share.shareId + " exists already");
  if (share.isSubfolder()) {
    auto parent = shares_.find(*share.parentShareId);
    if (parent == shares_.end() || parent->second.isSubfolder())
      return StateError::badRequest("The parent share of a subfolder share must be an existing ordinary share");
    if (!share.internalName || *share.internalName == parent->first ||
        !trees_.at(parent->first).isLiveFolder(*share.internalName)) {
      return StateError::badRequest("A subfolder share needs the internal name of a folder of its parent share");
    }
  } else {
    trees_.emplace(share.shareId, NodeTree(share.shareId));
  }
  store_->saveShare(share);
  return shares_[share.shareId] = std::move(share);
}

StateResult<ShareInfo> ServiceState::removeShare(const std::string& shareId) {
  std::lock_guard lock(mutex_);
  auto found = shares_.find(shareId);
  if (found == shares_.end())
    return StateError::notFound("Unknown share " + shareId);
  ShareInfo removed = found->second;
  StoreBatch batch(*store_);
  std::vector<std::string> gone{shareId};
  for (const auto& [id, other] : shares_) {
    if (other.parentShareId == shareId)
      gone.push_back(id); // a subfolder share cannot outlive the share holding its folder
  }
  if (auto tree = trees_.find(shareId); tree != trees_.end()) {
    for (const StoredNode* node : tree->second.all()) {
      if (!node->blobId.empty())
        dropBlobLocked(node->blobId);
    }
    trees_.erase(tree);
  }
  for (const std::string& id : gone) {
    shares_.erase(id);
    crossings_.erase(id);
    store_->removeShare(id);
  }
  return removed;
}

StateResult<ShareInfo> ServiceState::renameShare(const std::string& shareId, const std::string& name) {
  if (name.empty())
    return StateError::badRequest("A share needs a name");
  std::lock_guard lock(mutex_);
  auto found = shares_.find(shareId);
  if (found == shares_.end())
    return StateError::notFound("Unknown share " + shareId);
  found->second.name = name;
  store_->saveShare(found->second);
  return found->second;
}

StateResult<ShareInfo> ServiceState::setAcl(const std::string& shareId, std::int32_t aclType,
                                            const std::string& aclToken) {
  std::lock_guard lock(mutex_);
  auto found = shares_.find(shareId);
  if (found == shares_.end())
    return StateError::notFound("Unknown share " + shareId);
  found->second.aclType = aclType;
  found->second.aclToken = aclToken;
  store_->saveShare(found->second);
  return found->second;
}

// ---- Scopes

StateResult<ServiceState::Scope> ServiceState::scopeLocked(const std::string& shareId, bool forWriting) const {
  auto found = shares_.find(shareId);
  if (found == shares_.end())
    return StateError::notFound("Unknown share " + shareId);
  const ShareInfo& share = found->second;
  if (forWriting && share.isReadOnly())
    return StateError::forbidden("The share " + share.name + " is read-only");
  auto tree = trees_.find(share.parentShareId.value_or(share.shareId));
  if (tree == trees_.end())
    return StateError::notFound("The parent share of " + shareId + " is gone");
  return Scope{&share, &tree->second, share.internalName.value_or(share.shareId)};
}

std::string ServiceState::parentIdLocked(const Scope& scope, const std::string& parentId) const {
  // Clients may name a subfolder share's top level by the share's id or by its folder's internal name.
  return parentId == scope.share->shareId ? scope.top : parentId;
}

bool ServiceState::insideLocked(const Scope& scope, const std::string& internalName) const {
  return !scope.share->isSubfolder() || scope.tree->isWithin(internalName, scope.top);
}

StateResult<const StoredNode*> ServiceState::liveNodeLocked(const Scope& scope, const std::string& internalName) const {
  const StoredNode* node = scope.tree->find(internalName);
  if (node == nullptr || node->file.Deleted || !insideLocked(scope, internalName) || internalName == scope.top)
    return StateError::unknownNode("No item " + internalName + " in share " + scope.share->shareId);
  return node;
}

StateResult<ServiceState::Target> ServiceState::targetLocked(const std::string& shareId,
                                                             const std::string& internalName, bool forWriting) const {
  auto scope = scopeLocked(shareId, forWriting);
  if (!scope)
    return scope.error();
  auto node = liveNodeLocked(*scope, internalName);
  if (!node)
    return node.error();
  return Target{*scope, *node};
}

OVVirtualFile ServiceState::viewLocked(const Scope& scope, const OVVirtualFile& file) const {
  OVVirtualFile view = file;
  if (scope.share->isSubfolder()) {
    view.ShareId = scope.share->shareId;
    view.ParentShareId = scope.share->parentShareId;
  }
  return view;
}

// ---- Reading nodes

StateResult<OSXCatchUpResponse> ServiceState::catchUp(const std::string& shareId, std::int64_t from,
                                                      std::int64_t take) const {
  if (take <= 0)
    return StateError::badRequest("ticktake must be above 0");
  std::lock_guard lock(mutex_);
  auto scope = scopeLocked(shareId, false);
  if (!scope)
    return scope.error();
  if (scope->share->isSubfolder())
    return subfolderPageLocked(*scope, from, take);
  auto accept = [&](const StoredNode& node) {
    return insideLocked(*scope, *node.file.InternalName) && *node.file.InternalName != scope->top;
  };
  OSXCatchUpResponse page;
  page.OvVirtualFiles.emplace();
  for (const StoredNode* node : scope->tree->changedAfter(from, static_cast<std::size_t>(take), accept))
    page.OvVirtualFiles->push_back(viewLocked(*scope, node->file));
  page.ShareTick = scope->tree->tick();
  page.LargestTick = page.OvVirtualFiles->empty() ? clampTick(from) : page.OvVirtualFiles->back().Tick;
  return page;
}

StateResult<std::vector<OVVirtualFile>> ServiceState::nodes(const std::string& shareId) const {
  std::lock_guard lock(mutex_);
  auto scope = scopeLocked(shareId, false);
  if (!scope)
    return scope.error();
  std::vector<OVVirtualFile> files;
  for (const StoredNode* node : scope->tree->all()) {
    if (insideLocked(*scope, *node->file.InternalName) && *node->file.InternalName != scope->top)
      files.push_back(viewLocked(*scope, node->file));
  }
  return files;
}

std::optional<OVVirtualFile> ServiceState::node(const std::string& shareId, const std::string& internalName) const {
  std::lock_guard lock(mutex_);
  auto scope = scopeLocked(shareId, false);
  if (!scope || !insideLocked(*scope, internalName))
    return std::nullopt;
  const StoredNode* node = scope->tree->find(internalName);
  return node == nullptr ? std::nullopt : std::optional(viewLocked(*scope, node->file));
}

// ---- Links and cookies

StateResult<std::string> ServiceState::createPublicLink(const std::string& shareId, const std::string& internalName) {
  std::lock_guard lock(mutex_);
  auto target = targetLocked(shareId, internalName, false);
  if (!target)
    return target.error();
  if (!target->node->file.IsFile)
    return StateError::badRequest("Public links are made for files only");
  PublicLink link{newServiceId(), target->scope.tree->shareId(), internalName};
  store_->saveLink(link);
  links_[link.linkId] = link;
  return link.linkId;
}

StateResult<ContentView> ServiceState::linkContent(const std::string& linkId) const {
  std::lock_guard lock(mutex_);
  auto link = links_.find(linkId);
  auto tree = link == links_.end() ? trees_.end() : trees_.find(link->second.shareId);
  const StoredNode* node = tree == trees_.end() ? nullptr : tree->second.find(link->second.internalName);
  if (node == nullptr || node->file.Deleted)
    return StateError::notFound("No such link");
  auto blob = blobInfo_.find(node->blobId);
  auto content = blob == blobInfo_.end() ? nullptr : blobs_->open(blob->second);
  if (!content)
    return StateError::internal("The content of the link is missing");
  return ContentView{content, node->file.PublicName.value_or("download")};
}

std::string ServiceState::issueHubCookie(const std::string& user) {
  std::lock_guard lock(mutex_);
  // Every profile hands out a fresh cookie; only the latest ones can still be in use.
  constexpr std::size_t kMaxHubCookies = 10000;
  std::string cookie = newServiceId() + newServiceId();
  hubCookies_[cookie] = user;
  hubCookieOrder_.push_back(cookie);
  if (hubCookieOrder_.size() > kMaxHubCookies) {
    hubCookies_.erase(hubCookieOrder_.front());
    hubCookieOrder_.pop_front();
  }
  return cookie;
}

std::optional<std::string> ServiceState::hubCookieUser(const std::string& cookie) const {
  std::lock_guard lock(mutex_);
  auto found = hubCookies_.find(cookie);
  return found == hubCookies_.end() ? std::nullopt : std::optional(found->second);
}

} // namespace orvex::service
