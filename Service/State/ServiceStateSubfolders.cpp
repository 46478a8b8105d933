// Subfolder shares: noting moves across the border of a subfolder share's
// folder as they happen, and the catch-up that reports them.
#include "State/ServiceState.h"

namespace orvex::service {

std::vector<std::string> ServiceState::subtreeLocked(const NodeTree& tree, const std::string& internalName) const {
  std::vector<std::string> ids{internalName};
  for (std::size_t next = 0; next < ids.size(); ++next) {
    for (std::string& child : tree.liveChildren(ids[next]))
      ids.push_back(std::move(child));
  }
  return ids;
}

void ServiceState::noteCrossingsLocked(const Scope& scope, const std::string& internalName,
                                       const std::string& newParent) {
  const NodeTree& tree = *scope.tree;
  const std::string oldParent = tree.find(internalName)->file.ParrentId.value_or("");
  std::vector<std::string> moving; // parents first; filled when a border is crossed
  for (const auto& [shareId, share] : shares_) {
    if (share.parentShareId != tree.shareId())
      continue;
    const std::string& top = *share.internalName;
    if (internalName == top)
      continue; // the shared folder takes its subtree along
    const bool leaves = tree.isWithin(internalName, top);
    if (leaves == tree.isWithin(newParent, top))
      continue;
    if (moving.empty())
      moving = subtreeLocked(tree, internalName);
    SubtreeCrossings& crossings = crossings_[shareId];
    // A departure lists children before their folder, as deleting a folder
    // does; an arrival lists each folder before what it holds.
    for (std::size_t i = 0; i < moving.size(); ++i) {
      const std::string& id = leaves ? moving[moving.size() - 1 - i] : moving[i];
      Crossing crossing{id, tree.nextTick(), static_cast<std::int32_t>(i), ""};
      if (leaves)
        crossing.parentInside = id == internalName ? oldParent : tree.find(id)->file.ParrentId.value_or("");
      store_->saveCrossing(shareId, crossing);
      crossings.record(std::move(crossing));
    }
  }
}

OSXCatchUpResponse ServiceState::subfolderPageLocked(const Scope& scope, std::int64_t from, std::int64_t take) const {
  static const SubtreeCrossings kNoCrossings;
  const NodeTree& tree = *scope.tree;
  auto found = crossings_.find(scope.share->shareId);
  const SubtreeCrossings& crossings = found == crossings_.end() ? kNoCrossings : found->second;
  const std::vector<const Crossing*> moves = crossings.after(from);
  auto nextMove = moves.begin();
  OSXCatchUpResponse page;
  std::vector<OVVirtualFile>& files = page.OvVirtualFiles.emplace();
  // The nodes of one move share its tick: a page never ends among them, as the
  // next page starts after the last tick and would miss the rest.
  auto full = [&](std::int32_t tick) {
    return files.size() >= static_cast<std::size_t>(take) && files.back().Tick != tick;
  };
  // A node is listed at the tick it last reached the share, so that the page stays in tick order.
  auto add = [&](const StoredNode& node, std::int32_t tick, const Crossing* left) {
    OVVirtualFile& view = files.emplace_back(viewLocked(scope, node.file));
    view.Tick = tick;
    view.ShareTick = tick;
    if (left != nullptr) { // moved out: gone from this share as if deleted, from the folder it left
      view.Deleted = true;
      if (!left->parentInside.empty())
        view.ParrentId = left->parentInside;
    }
  };
  auto addMovesUpTo = [&](std::int32_t tick) {
    for (; nextMove != moves.end() && (*nextMove)->tick <= tick; ++nextMove) {
      const Crossing& move = **nextMove;
      const StoredNode* node = tree.find(move.internalName);
      if (node == nullptr)
        continue;
      if (full(move.tick))
        return false;
      if (!tree.isWithin(move.internalName, scope.top))
        add(*node, move.tick, &move);
      else if (node->file.Tick <= move.tick)
        add(*node, move.tick, nullptr); // else changed since it arrived, and listed at that tick
    }
    return true;
  };
  bool more = true;
  tree.visitAfter(from, [&](const StoredNode& node) {
    const std::int32_t tick = node.file.Tick;
    if (!addMovesUpTo(tick))
      return more = false;
    const std::string& id = *node.file.InternalName;
    const Crossing* move = crossings.find(id);
    if (id == scope.top || !tree.isWithin(id, scope.top) || (move != nullptr && move->tick >= tick))
      return true; // not in the share, or listed with its move
    if (full(tick))
      return more = false;
    add(node, tick, nullptr);
    return true;
  });
  if (more)
    addMovesUpTo(std::numeric_limits<std::int32_t>::max());
  page.ShareTick = tree.tick();
  page.LargestTick = files.empty() ? clampTick(from) : files.back().Tick;
  return page;
}

} // namespace orvex::service
