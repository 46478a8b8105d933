// The service's configuration: the deployment (host labels, default domain,
// issuer), domains, users, companies, shares and the seed files the state
// starts with. Read from a JSON file (format in Service/README.md) or built
// in (--demo). Immutable once read.
#pragma once

#include "Config/ConfigReader.h"
#include "Identity/IdentityProvider.h"
#include "Platform/BrandFile.h"
#include "State/StateTypes.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvex::service {

struct UserConfig {
  ServiceUser identity;
  std::string userId; // "UserId" of the profile; derived from the e-mail unless given
};

// One entry of "Files": a folder, or a file with seeded or literal content.
struct SeedFile {
  std::string shareId;
  std::vector<std::string> path; // components; the last one is the item's name
  bool folder = false;
  std::int64_t size = 0;
  std::optional<std::uint64_t> seed;
  std::optional<std::string> text;
  std::optional<std::string> internalName; // derived from share and path unless given
  std::string user;                        // who created it
  std::optional<std::string> lockedBy;
  std::string lockDeviceId;
};

// The fields a share entry of the configuration or of the admin API carries,
// read and checked for unknown keys; what they must refer to is the caller's check.
ShareInfo shareFieldsOf(const ConfigObject& entry);

struct ServiceConfig {
  Deployment deployment;
  std::string issuer; // "https://login.orvex.example"
  std::vector<std::string> domains;
  std::vector<UserConfig> users;
  std::vector<CompanyInfo> companies;
  std::vector<ShareInfo> shares;
  std::vector<SeedFile> files;

  // Throws ConfigError naming `origin` and the offending key.
  static ServiceConfig fromJson(const nlohmann::json& json, const std::string& origin);
  static ServiceConfig load(const std::filesystem::path& file);
  // The built-in demo data, and its JSON text (what --demo --print-config shows).
  static ServiceConfig demo();
  static nlohmann::json demoJson();

  // Takes the deployment and issuer of a brand file instead of the configuration's own.
  void useBrand(const BrandFile& brand);

  // The issuer's host name ("login.orvex.example").
  std::string issuerHost() const;
  std::vector<ServiceUser> identityUsers() const;
  const UserConfig* user(const std::string& email) const;
};

} // namespace orvex::service
