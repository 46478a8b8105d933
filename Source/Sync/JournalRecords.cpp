// Member tables of the journal-event and upload-reply records.
#include "Sync/JournalRecords.h"

#include "Sync/WireMapping.h"

namespace orvex {

using namespace wire;

namespace {

constexpr auto kJournalEventMembers = std::tuple{
    req("TransmitId", &OVNewAPIJournalEvent::TransmitId),
    opt("UserOrigin", &OVNewAPIJournalEvent::UserOrigin),
    req("ClientJournalEventType", &OVNewAPIJournalEvent::ClientJournalEventType),
    opt("OvVirtualFile", &OVNewAPIJournalEvent::OvVirtualFile),
    req("DeviceId", &OVNewAPIJournalEvent::DeviceId),
    opt("ShareId", &OVNewAPIJournalEvent::ShareId),
    req("ShareTick", &OVNewAPIJournalEvent::ShareTick),
    req("TransmitCounter", &OVNewAPIJournalEvent::TransmitCounter),
    opt("TransmitTimeout", &OVNewAPIJournalEvent::TransmitTimeout),
    req("CreateTick", &OVNewAPIJournalEvent::CreateTick),
};

constexpr auto kResponceDataMembers = std::tuple{
    opt("ClientJournalEvent", &OVNewAPIResponceData::ClientJournalEvent),
    opt("Url", &OVNewAPIResponceData::Url),
    opt("CurrentPosition", &OVNewAPIResponceData::CurrentPosition),
    opt("ExpectedLength", &OVNewAPIResponceData::ExpectedLength),
};

constexpr auto kResponceMembers = std::tuple{
    opt("Data", &OVNewAPIResponce::Data),
    opt("Message", &OVNewAPIResponce::Message),
    opt("Code", &OVNewAPIResponce::Code),
};

} // namespace

bool OVNewAPIJournalEvent::readWire(const json& object, OVNewAPIJournalEvent& into, WireReader& reader) {
  return readMembers(object, into, kJournalEventMembers, reader);
}
void OVNewAPIJournalEvent::writeWire(json& object) const {
  writeMembers(*this, kJournalEventMembers, object);
}

bool OVNewAPIResponceData::readWire(const json& object, OVNewAPIResponceData& into, WireReader& reader) {
  return readMembers(object, into, kResponceDataMembers, reader);
}
void OVNewAPIResponceData::writeWire(json& object) const {
  writeMembers(*this, kResponceDataMembers, object);
}

bool OVNewAPIResponce::readWire(const json& object, OVNewAPIResponce& into, WireReader& reader) {
  return readMembers(object, into, kResponceMembers, reader);
}
void OVNewAPIResponce::writeWire(json& object) const {
  writeMembers(*this, kResponceMembers, object);
}

} // namespace orvex
