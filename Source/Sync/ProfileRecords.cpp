// Member tables of the full-profile records.
#include "Sync/ProfileRecords.h"

#include "Sync/WireMapping.h"

namespace orvex {

using namespace wire;

namespace {

constexpr auto kUsersMembers = std::tuple{
    opt("UserId", &Users::UserId),
    opt("Email", &Users::Email),
    opt("AltMail", &Users::AltMail),
    opt("Alias", &Users::Alias),
    opt("Name", &Users::Name),
    opt("ResellerId", &Users::ResellerId),
    opt("CreateTime", &Users::CreateTime),
    opt("LastLoginTime", &Users::LastLoginTime),
    req("Status", &Users::Status),
};

constexpr auto kSharingCompanyMembers = std::tuple{
    opt("CompanyId", &SharingCompany::CompanyId),
    req("AssociationType", &SharingCompany::AssociationType),
};

constexpr auto kClientLoginResponseMembers = std::tuple{
    opt("User", &ClientLoginResponse::User),
    opt("ManagedShares", &ClientLoginResponse::ManagedShares),
    opt("LoginToken", &ClientLoginResponse::LoginToken),
    opt("Cookie", &ClientLoginResponse::Cookie),
    opt("FilecacheUrls", &ClientLoginResponse::FilecacheUrls),
    opt("SharingCompanies", &ClientLoginResponse::SharingCompanies),
};

constexpr auto kFullProfileDataMembers = std::tuple{
    opt("Data", &FullProfileData::Data),
};

} // namespace

bool Users::readWire(const json& object, Users& into, WireReader& reader) {
  return readMembers(object, into, kUsersMembers, reader);
}
void Users::writeWire(json& object) const {
  writeMembers(*this, kUsersMembers, object);
}

bool SharingCompany::readWire(const json& object, SharingCompany& into, WireReader& reader) {
  return readMembers(object, into, kSharingCompanyMembers, reader);
}
void SharingCompany::writeWire(json& object) const {
  writeMembers(*this, kSharingCompanyMembers, object);
}

bool ClientLoginResponse::readWire(const json& object, ClientLoginResponse& into, WireReader& reader) {
  return readMembers(object, into, kClientLoginResponseMembers, reader);
}
void ClientLoginResponse::writeWire(json& object) const {
  writeMembers(*this, kClientLoginResponseMembers, object);
}

bool FullProfileData::readWire(const json& object, FullProfileData& into, WireReader& reader) {
  return readMembers(object, into, kFullProfileDataMembers, reader);
}
void FullProfileData::writeWire(json& object) const {
  writeMembers(*this, kFullProfileDataMembers, object);
}

} // namespace orvex
