#include "State/NodeTree.h"

#include <algorithm>

namespace orvex::service {
namespace {
// Moves into a node's own subtree are refused, so parent chains cannot form
// cycles; the bound only keeps a damaged state file from hanging a request.
constexpr int kMaxDepth = 10000;
} // namespace

const StoredNode* NodeTree::find(const std::string& internalName) const {
  auto found = nodes_.find(internalName);
  return found == nodes_.end() ? nullptr : &found->second;
}

bool NodeTree::isLiveFolder(const std::string& id) const {
  if (id == shareId_)
    return true;
  const StoredNode* node = find(id);
  return node != nullptr && !node->file.IsFile && !node->file.Deleted;
}

void NodeTree::index(const StoredNode& node) {
  const std::string& id = *node.file.InternalName;
  byTick_[node.file.Tick] = id;
  children_[node.file.ParrentId.value_or("")].insert(id);
}

void NodeTree::unindex(const StoredNode& node) {
  auto tick = byTick_.find(node.file.Tick);
  if (tick != byTick_.end() && tick->second == *node.file.InternalName)
    byTick_.erase(tick);
  auto siblings = children_.find(node.file.ParrentId.value_or(""));
  if (siblings != children_.end()) {
    siblings->second.erase(*node.file.InternalName);
    if (siblings->second.empty())
      children_.erase(siblings);
  }
}

const StoredNode& NodeTree::record(StoredNode node) {
  tick_ += 1;
  node.file.Tick = tick_;
  node.file.ShareTick = tick_;
  const std::string id = *node.file.InternalName;
  if (const StoredNode* old = find(id))
    unindex(*old);
  StoredNode& stored = nodes_[id] = std::move(node);
  index(stored);
  return stored;
}

void NodeTree::restore(StoredNode node) {
  tick_ = std::max(tick_, node.file.Tick);
  const std::string id = *node.file.InternalName;
  if (const StoredNode* old = find(id))
    unindex(*old);
  index(nodes_[id] = std::move(node));
}

std::vector<std::string> NodeTree::liveChildren(const std::string& parentId) const {
  std::vector<std::string> ids;
  auto found = children_.find(parentId);
  if (found == children_.end())
    return ids;
  for (const std::string& id : found->second) {
    if (!find(id)->file.Deleted)
      ids.push_back(id);
  }
  return ids;
}

bool NodeTree::isWithin(const std::string& internalName, const std::string& folderId) const {
  std::string current = internalName;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    if (current == folderId)
      return true;
    const StoredNode* node = find(current);
    if (node == nullptr || !node->file.ParrentId)
      return false; // reached the share's top level
    current = *node->file.ParrentId;
  }
  return false;
}

std::vector<const StoredNode*> NodeTree::changedAfter(std::int64_t from, std::size_t take,
                                                      const std::function<bool(const StoredNode&)>& accept) const {
  std::vector<const StoredNode*> page;
  visitAfter(from, [&](const StoredNode& node) {
    if (page.size() >= take)
      return false;
    if (accept(node))
      page.push_back(&node);
    return true;
  });
  return page;
}

void NodeTree::visitAfter(std::int64_t from, const std::function<bool(const StoredNode&)>& visit) const {
  auto start = from < 0 ? byTick_.begin()
                        : byTick_.upper_bound(static_cast<std::int32_t>(std::min<std::int64_t>(from, INT32_MAX)));
  for (auto it = start; it != byTick_.end(); ++it) {
    if (!visit(*find(it->second)))
      return;
  }
}

std::vector<const StoredNode*> NodeTree::all() const {
  std::vector<const StoredNode*> nodes;
  nodes.reserve(nodes_.size());
  for (const auto& [id, node] : nodes_)
    nodes.push_back(&node);
  return nodes;
}

} // namespace orvex::service
