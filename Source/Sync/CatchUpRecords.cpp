// Member table of the catch-up page.
#include "Sync/CatchUpRecords.h"

#include "Sync/WireMapping.h"

namespace orvex {

using namespace wire;

namespace {

constexpr auto kCatchUpMembers = std::tuple{
    opt("OvVirtualFiles", &OSXCatchUpResponse::OvVirtualFiles),
    req("ShareTick", &OSXCatchUpResponse::ShareTick),
    req("LargestTick", &OSXCatchUpResponse::LargestTick),
};

} // namespace

bool OSXCatchUpResponse::readWire(const json& object, OSXCatchUpResponse& into, WireReader& reader) {
  return readMembers(object, into, kCatchUpMembers, reader);
}
void OSXCatchUpResponse::writeWire(json& object) const {
  writeMembers(*this, kCatchUpMembers, object);
}

} // namespace orvex
