// Which nodes moved into or out of a subfolder share's folder, and at which
// tick of the parent share. A move stamps only the moved node: everything
// below a moved folder keeps its old tick, and a node moved out is no longer
// below the folder at all, so the subfolder share's catch-up needs this
// record to show either. Nodes that crossed with one move share its tick and
// keep the order they were recorded in.
//
// Not thread-safe: ServiceState's mutex guards it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orvex::service {

struct Crossing {
  std::string internalName;
  std::int32_t tick = 0;  // the parent share's tick of the move
  std::int32_t order = 0; // among the nodes of the same move
  // The parent the node had inside the folder; set when it moved out, so that
  // its deletion names the folder it left.
  std::string parentInside;
};

class SubtreeCrossings {
 public:
  // Keeps `crossing` as the latest of its node, replacing an earlier one.
  void record(Crossing crossing);
  // The node's latest crossing, or null.
  const Crossing* find(const std::string& internalName) const;
  // The latest crossings with a tick above `from`, by tick, then order.
  std::vector<const Crossing*> after(std::int64_t from) const;

 private:
  std::map<std::string, Crossing> byName_;
  std::map<std::pair<std::int32_t, std::int32_t>, std::string> byTick_; // tick, order -> internal name
};

} // namespace orvex::service
