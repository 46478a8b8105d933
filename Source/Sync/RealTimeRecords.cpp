// Member tables of the real-time channel's records.
#include "Sync/RealTimeRecords.h"

#include "Sync/WireMapping.h"

namespace orvex {

using namespace wire;

namespace {

constexpr auto kEnvelopeMembers = std::tuple{
    req("MessageType", &Envelope::MessageType), opt("RnaReciver", &Envelope::RnaReciver),
    opt("RnaSender", &Envelope::RnaSender),     req("SendTime", &Envelope::SendTime),
    req("ReSendTime", &Envelope::ReSendTime),   req("ReSendInterval", &Envelope::ReSendInterval),
    req("ReSendCount", &Envelope::ReSendCount), req("Message", &Envelope::Message),
    req("Origin", &Envelope::Origin),           req("ChannelId", &Envelope::ChannelId),
};

constexpr auto kDomainFilecachesMembers = std::tuple{
    opt("CurrentFilecache", &DomainFilecaches::CurrentFilecache),
    opt("LastUsedTick", &DomainFilecaches::LastUsedTick),
    opt("FilecacheList", &DomainFilecaches::FilecacheList),
};

constexpr auto kClientInfoMembers = std::tuple{
    req("ClientName", &ClientInfo::ClientName),
    req("ClientType", &ClientInfo::ClientType),
    opt("ConnectionId", &ClientInfo::ConnectionId),
    opt("TransportMethod", &ClientInfo::TransportMethod),
    opt("ShareList", &ClientInfo::ShareList),
    opt("GroupList", &ClientInfo::GroupList),
    opt("RemainingSize", &ClientInfo::RemainingSize),
    opt("ReservedSize", &ClientInfo::ReservedSize),
    opt("LargestSize", &ClientInfo::LargestSize),
    req("ConnectionUrl", &ClientInfo::ConnectionUrl),
    req("UserId", &ClientInfo::UserId),
    opt("DomainFilecaches", &ClientInfo::DomainFilecaches),
};

constexpr auto kClientJournalEventMembers = std::tuple{
    opt("TransmitId", &ClientJournalEvent::TransmitId),
    opt("UserOrigin", &ClientJournalEvent::UserOrigin),
    opt("clientJournalEventType", &ClientJournalEvent::clientJournalEventType),
    opt("VShare", &ClientJournalEvent::VShare),
    opt("ShareId", &ClientJournalEvent::ShareId),
    req("ShareTick", &ClientJournalEvent::ShareTick),
    req("TransmitCounter", &ClientJournalEvent::TransmitCounter),
    opt("TransmitTimeout", &ClientJournalEvent::TransmitTimeout),
    req("CreateTick", &ClientJournalEvent::CreateTick),
    opt("OvVirtualFile", &ClientJournalEvent::OvVirtualFile),
};

constexpr auto kDomainEventMembers = std::tuple{
    req("DomainEventType", &DomainEvent::DomainEventType),
    opt("Update", &DomainEvent::Update),
    opt("Company", &DomainEvent::Company),
    opt("Delete", &DomainEvent::Delete),
    opt("New", &DomainEvent::New),
};

} // namespace

bool Envelope::readWire(const json& object, Envelope& into, WireReader& reader) {
  return readMembers(object, into, kEnvelopeMembers, reader);
}
void Envelope::writeWire(json& object) const {
  writeMembers(*this, kEnvelopeMembers, object);
}

bool DomainFilecaches::readWire(const json& object, DomainFilecaches& into, WireReader& reader) {
  return readMembers(object, into, kDomainFilecachesMembers, reader);
}
void DomainFilecaches::writeWire(json& object) const {
  writeMembers(*this, kDomainFilecachesMembers, object);
}

bool ClientInfo::readWire(const json& object, ClientInfo& into, WireReader& reader) {
  return readMembers(object, into, kClientInfoMembers, reader);
}
void ClientInfo::writeWire(json& object) const {
  writeMembers(*this, kClientInfoMembers, object);
}

bool ClientJournalEvent::readWire(const json& object, ClientJournalEvent& into, WireReader& reader) {
  return readMembers(object, into, kClientJournalEventMembers, reader);
}
void ClientJournalEvent::writeWire(json& object) const {
  writeMembers(*this, kClientJournalEventMembers, object);
}

bool DomainEvent::readWire(const json& object, DomainEvent& into, WireReader& reader) {
  return readMembers(object, into, kDomainEventMembers, reader);
}
void DomainEvent::writeWire(json& object) const {
  writeMembers(*this, kDomainEventMembers, object);
}

} // namespace orvex
