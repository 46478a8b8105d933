// Records of the full profile: the reply of the full-profile request with the
// user, the user's shares in the domain and the companies sharing with them.
// Member names are the JSON keys, letter for letter.
//
// Plain values: no shared state, safe to copy between threads.
#pragma once

#include "Sync/ManagedShare.h"
#include "Sync/WireNumber.h"
#include "Sync/WireRecord.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

struct Users : WireRecord<Users> {
  std::optional<std::string> UserId; // the client's identity on the real-time channel
  std::optional<std::string> Email;
  std::optional<std::string> AltMail;
  std::optional<std::string> Alias;
  std::optional<std::string> Name;
  std::optional<std::string> ResellerId;
  std::optional<WireNumber> CreateTime;
  std::optional<WireNumber> LastLoginTime;
  std::int32_t Status = 0;

  static constexpr std::string_view kWireName = "Users";
  static bool readWire(const nlohmann::json& object, Users& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const Users&, const Users&) = default;
};

struct SharingCompany : WireRecord<SharingCompany> {
  std::optional<std::string> CompanyId; // matched against ManagedShare.CompanyId
  std::int32_t AssociationType = 0;     // 2: the user owns the company's shares

  static constexpr std::string_view kWireName = "SharingCompany";
  static bool readWire(const nlohmann::json& object, SharingCompany& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const SharingCompany&, const SharingCompany&) = default;
};

struct ClientLoginResponse : WireRecord<ClientLoginResponse> {
  std::optional<Users> User;
  std::optional<std::vector<ManagedShare>> ManagedShares;
  std::optional<std::string> LoginToken;
  std::optional<std::string> Cookie; // the ".ASPXAUTH" cookie value for the real-time channel
  std::optional<std::vector<std::string>> FilecacheUrls;
  std::optional<std::vector<SharingCompany>> SharingCompanies;

  static constexpr std::string_view kWireName = "ClientLoginResponse";
  static bool readWire(const nlohmann::json& object, ClientLoginResponse& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const ClientLoginResponse&, const ClientLoginResponse&) = default;
};

struct FullProfileData : WireRecord<FullProfileData> {
  std::optional<ClientLoginResponse> Data;

  static constexpr std::string_view kWireName = "FullProfileData";
  static bool readWire(const nlohmann::json& object, FullProfileData& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const FullProfileData&, const FullProfileData&) = default;
};

} // namespace orvex
