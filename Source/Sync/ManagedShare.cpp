// Member tables of the share record and its access rights, and the share's
// derived properties.
#include "Sync/ManagedShare.h"

#include "Sync/WireMapping.h"

namespace orvex {

using namespace wire;

namespace {

constexpr auto kShareACLMembers = std::tuple{
    opt("ShareId", &ShareACL::ShareId),
    opt("AclType", &ShareACL::AclType),
    opt("ShareShareRights", &ShareACL::ShareShareRights),
    opt("FileShareRights", &ShareACL::FileShareRights),
    opt("AclToken", &ShareACL::AclToken),
};

constexpr auto kManagedShareMembers = std::tuple{
    opt("VshareId", &ManagedShare::VshareId),
    opt("ShareId", &ManagedShare::ShareId),
    opt("CompanyId", &ManagedShare::CompanyId),
    opt("VshareName", &ManagedShare::VshareName),
    opt("ShareName", &ManagedShare::ShareName),
    opt("TransmitId", &ManagedShare::TransmitId),
    opt("AliasName", &ManagedShare::AliasName),
    opt("DisplayName", &ManagedShare::DisplayName),
    opt("ParentShareId", &ManagedShare::ParentShareId),
    opt("InternalName", &ManagedShare::InternalName),
    opt("ShareType", &ManagedShare::ShareType),
    req("AssociationType", &ManagedShare::AssociationType),
    req("Status", &ManagedShare::Status),
    req("ShareChanged", &ManagedShare::ShareChanged),
    req("Online", &ManagedShare::Online),
    req("TransmitCounter", &ManagedShare::TransmitCounter),
    req("LastApplyedJournalTick", &ManagedShare::LastApplyedJournalTick),
    opt("LastUpdate", &ManagedShare::LastUpdate),
    opt("LastBufferEntry", &ManagedShare::LastBufferEntry),
    opt("ConflicTnternalId", &ManagedShare::ConflicTnternalId),
    opt("ShareAcl", &ManagedShare::ShareAcl),
    opt("GateWayUrl", &ManagedShare::GateWayUrl),
    opt("NextCathUp", &ManagedShare::NextCathUp),
    opt("CreationDate", &ManagedShare::CreationDate),
    opt("ModificationDate", &ManagedShare::ModificationDate),
    opt("CompanyName", &ManagedShare::CompanyName),
    opt("Synchronize", &ManagedShare::Synchronize),
};

} // namespace

bool ShareACL::readWire(const json& object, ShareACL& into, WireReader& reader) {
  return readMembers(object, into, kShareACLMembers, reader);
}

void ShareACL::writeWire(json& object) const {
  writeMembers(*this, kShareACLMembers, object);
}

bool ManagedShare::readWire(const json& object, ManagedShare& into, WireReader& reader) {
  return readMembers(object, into, kManagedShareMembers, reader);
}

void ManagedShare::writeWire(json& object) const {
  writeMembers(*this, kManagedShareMembers, object);
}

bool ManagedShare::isSubfolderShare() const {
  return ShareType && ShareType->asDouble() == 1;
}

bool ManagedShare::isReadOnly() const {
  return ShareAcl && ShareAcl->AclType && ShareAcl->AclType->asDouble() == 0;
}

bool ManagedShare::isOwned() const {
  return (ShareAcl && ShareAcl->AclType && ShareAcl->AclType->asDouble() == 2) || AssociationType == 2;
}

} // namespace orvex
