#include "State/SubtreeCrossings.h"

#include "State/StateTypes.h"

#include <limits>

namespace orvex::service {

void SubtreeCrossings::record(Crossing crossing) {
  auto old = byName_.find(crossing.internalName);
  if (old != byName_.end())
    byTick_.erase({old->second.tick, old->second.order});
  byTick_[{crossing.tick, crossing.order}] = crossing.internalName;
  byName_[crossing.internalName] = std::move(crossing);
}

const Crossing* SubtreeCrossings::find(const std::string& internalName) const {
  auto found = byName_.find(internalName);
  return found == byName_.end() ? nullptr : &found->second;
}

std::vector<const Crossing*> SubtreeCrossings::after(std::int64_t from) const {
  std::vector<const Crossing*> found;
  const std::pair<std::int32_t, std::int32_t> last{clampTick(from), std::numeric_limits<std::int32_t>::max()};
  for (auto it = byTick_.upper_bound(last); it != byTick_.end(); ++it)
    found.push_back(&byName_.at(it->second));
  return found;
}

} // namespace orvex::service
