// Member tables of the public-link records.
#include "Sync/PublicLinkRecords.h"

#include "Sync/WireMapping.h"

namespace orvex {

using namespace wire;

namespace {

constexpr auto kCreatePublicLinkMembers = std::tuple{
    opt("ShareId", &OVNewAPICreatePublicLink::ShareId),
    opt("InternalName", &OVNewAPICreatePublicLink::InternalName),
    req("DaysToExpire", &OVNewAPICreatePublicLink::DaysToExpire),
    req("MaxUse", &OVNewAPICreatePublicLink::MaxUse),
    opt("Message", &OVNewAPICreatePublicLink::Message),
    req("EnablePassword", &OVNewAPICreatePublicLink::EnablePassword),
    opt("Password", &OVNewAPICreatePublicLink::Password),
};

constexpr auto kResponceDataMembers = std::tuple{
    opt("FullLink", &OVNewAPICreatePublicLinkResponceData::FullLink),
};

constexpr auto kResponceMembers = std::tuple{
    opt("Data", &OVNewAPICreatePublicLinkResponce::Data),
    opt("Message", &OVNewAPICreatePublicLinkResponce::Message),
};

} // namespace

bool OVNewAPICreatePublicLink::readWire(const json& object, OVNewAPICreatePublicLink& into, WireReader& reader) {
  return readMembers(object, into, kCreatePublicLinkMembers, reader);
}
void OVNewAPICreatePublicLink::writeWire(json& object) const {
  writeMembers(*this, kCreatePublicLinkMembers, object);
}

bool OVNewAPICreatePublicLinkResponceData::readWire(const json& object, OVNewAPICreatePublicLinkResponceData& into,
                                                    WireReader& reader) {
  return readMembers(object, into, kResponceDataMembers, reader);
}
void OVNewAPICreatePublicLinkResponceData::writeWire(json& object) const {
  writeMembers(*this, kResponceDataMembers, object);
}

bool OVNewAPICreatePublicLinkResponce::readWire(const json& object, OVNewAPICreatePublicLinkResponce& into,
                                                WireReader& reader) {
  return readMembers(object, into, kResponceMembers, reader);
}
void OVNewAPICreatePublicLinkResponce::writeWire(json& object) const {
  writeMembers(*this, kResponceMembers, object);
}

} // namespace orvex
