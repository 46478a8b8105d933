// The nodes of one share, with what catch-up and tree changes need: the
// share's tick, the nodes ordered by the tick of their last change, and each
// folder's children. A node directly in the share has the share id as its
// parent id.
//
// Not thread-safe: ServiceState's mutex guards every tree.
#pragma once

#include "State/StateTypes.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace orvex::service {

class NodeTree {
 public:
  explicit NodeTree(std::string shareId) : shareId_(std::move(shareId)) {}

  const std::string& shareId() const { return shareId_; }
  // The share's change counter: the tick of its latest change, 0 when none.
  std::int32_t tick() const { return tick_; }
  std::int32_t nextTick() const { return tick_ + 1; }

  // Null when no node has that internal name (deleted nodes are found).
  const StoredNode* find(const std::string& internalName) const;
  // True for the share itself and for folders that are not deleted.
  bool isLiveFolder(const std::string& id) const;

  // Advances the share's tick by one and stores `node` (new, or replacing the
  // node of the same internal name) stamped with it as Tick and ShareTick.
  const StoredNode& record(StoredNode node);
  // Stores a node read back from persistence as it is; the tick follows the largest seen.
  void restore(StoredNode node);

  // Ids of the children of `parentId` that are not deleted.
  std::vector<std::string> liveChildren(const std::string& parentId) const;
  // True when `internalName` is `folderId` or lies anywhere below it.
  bool isWithin(const std::string& internalName, const std::string& folderId) const;

  // Nodes whose tick is above `from`, ascending, at most `take`, among those `accept` lets through.
  std::vector<const StoredNode*> changedAfter(std::int64_t from, std::size_t take,
                                              const std::function<bool(const StoredNode&)>& accept) const;
  // Calls `visit` with the nodes whose tick is above `from`, ascending, until it answers false.
  void visitAfter(std::int64_t from, const std::function<bool(const StoredNode&)>& visit) const;
  std::vector<const StoredNode*> all() const;

 private:
  void index(const StoredNode& node);
  void unindex(const StoredNode& node);

  const std::string shareId_;
  std::int32_t tick_ = 0;
  std::map<std::string, StoredNode> nodes_;               // by internal name
  std::map<std::int32_t, std::string> byTick_;            // tick of last change -> internal name
  std::map<std::string, std::set<std::string>> children_; // parent id -> internal names
};

} // namespace orvex::service
