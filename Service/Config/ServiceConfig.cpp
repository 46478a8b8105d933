#include "Config/ServiceConfig.h"

#include "Platform/SafePathComponent.h"
#include "State/Ids.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

namespace orvex::service {

ShareInfo shareFieldsOf(const ConfigObject& entry) {
  entry.allowOnly(
      {"ShareId", "Name", "Domain", "CompanyId", "AclType", "AclToken", "ParentShareId", "InternalName", "Users"});
  ShareInfo share;
  share.shareId = entry.string("ShareId");
  share.name = entry.string("Name");
  share.domain = entry.string("Domain");
  share.companyId = entry.optionalString("CompanyId").value_or("");
  share.aclType = static_cast<std::int32_t>(entry.optionalInteger("AclType", INT32_MIN, INT32_MAX).value_or(1));
  share.aclToken = entry.optionalString("AclToken").value_or(derivedId("acl:" + share.shareId));
  share.users = entry.strings("Users");
  return share;
}

namespace {

template <class List, class Key>
bool contains(const List& list, const Key& key) {
  return std::find(list.begin(), list.end(), key) != list.end();
}

// "https://HOST" with HOST a domain name, no port, path or trailing slash.
bool isIssuer(const std::string& issuer) {
  const std::string scheme = "https://";
  return issuer.rfind(scheme, 0) == 0 && isDomainName(issuer.substr(scheme.size()));
}

// The brand file's reader is lenient (a bad value gets its default and a
// warning); a service configuration is refused instead, naming the key.
void readDeployment(const ConfigObject& top, const std::string& origin, ServiceConfig& config) {
  std::optional<ConfigObject> deployment = top.optionalObject("Deployment");
  nlohmann::json brand = nlohmann::json::object();
  if (deployment) {
    brand["Deployment"] = deployment->json();
    BrandFile parsed = BrandFile::fromJson(brand, origin);
    const Deployment& d = parsed.deployment;
    const std::pair<const char*, const std::string*> texts[] = {
        {"ClientGatewayHostLabel", &d.clientGatewayHostLabel},
        {"FileCacheHostLabel", &d.fileCacheHostLabel},
        {"FrontEndHostLabel", &d.frontEndHostLabel},
        {"IdentityProviderHostLabel", &d.identityProviderHostLabel},
        {"DefaultDomain", &d.defaultDomain}};
    for (const auto& [key, value] : texts) {
      if (deployment->optionalString(key).value_or(*value) != *value)
        deployment->fail(key, "is not usable as a host label or domain");
    }
    config.deployment = d;
  }
  config.issuer = top.optionalString("Issuer").value_or("https://" + config.deployment.identityProviderHostLabel + "." +
                                                        config.deployment.defaultDomain);
  if (!isIssuer(config.issuer))
    top.fail("Issuer", "must be \"https://\" and a host name, nothing more");
}

void readUsers(const ConfigObject& top, ServiceConfig& config) {
  std::set<std::string> emails;
  for (const ConfigObject& entry : top.objects("Users")) {
    entry.allowOnly({"Email", "Password", "PrimaryDomain", "Domains", "DomainsAsText", "DisplayName", "UserId"});
    UserConfig user;
    user.identity.email = entry.string("Email");
    user.identity.password = entry.string("Password");
    user.identity.primaryDomain = entry.string("PrimaryDomain");
    user.identity.domains = entry.strings("Domains");
    user.identity.domainsAsText = entry.optionalBool("DomainsAsText").value_or(false);
    user.identity.displayName = entry.optionalString("DisplayName").value_or(user.identity.email);
    user.userId = entry.optionalString("UserId").value_or(derivedId("user:" + user.identity.email));
    if (user.identity.email.empty() || !emails.insert(user.identity.email).second)
      entry.fail("Email", "must be a distinct, non-empty e-mail address");
    if (!contains(config.domains, user.identity.primaryDomain))
      entry.fail("PrimaryDomain", "is not one of \"Domains\"");
    for (const std::string& domain : user.identity.domains) {
      if (!contains(config.domains, domain))
        entry.fail("Domains", "names \"" + domain + "\", which is not one of the top-level \"Domains\"");
    }
    if (user.identity.domainsAsText && user.identity.domains.size() != 1)
      entry.fail("DomainsAsText", "needs exactly one entry in \"Domains\"");
    config.users.push_back(std::move(user));
  }
  if (config.users.empty())
    top.fail("Users", "must name at least one user");
}

void readCompanies(const ConfigObject& top, ServiceConfig& config) {
  for (const ConfigObject& entry : top.objects("Companies")) {
    entry.allowOnly({"CompanyId", "Name", "AssociationType"});
    CompanyInfo company;
    company.companyId = entry.string("CompanyId");
    company.name = entry.optionalString("Name").value_or(company.companyId);
    company.associationType =
        static_cast<std::int32_t>(entry.optionalInteger("AssociationType", INT32_MIN, INT32_MAX).value_or(0));
    if (!isClientId(company.companyId) ||
        std::any_of(config.companies.begin(), config.companies.end(),
                    [&](const CompanyInfo& c) { return c.companyId == company.companyId; })) {
      entry.fail("CompanyId", "must be a distinct id of letters, digits, '-' and '_'");
    }
    config.companies.push_back(std::move(company));
  }
}

void readShareParent(const ConfigObject& entry, const ServiceConfig& config, ShareInfo& share) {
  share.parentShareId = entry.optionalString("ParentShareId");
  share.internalName = entry.optionalString("InternalName");
  if (share.parentShareId.has_value() != share.internalName.has_value())
    entry.fail(share.parentShareId ? "InternalName" : "ParentShareId",
               "must be given with the other (subfolder share)");
  if (!share.parentShareId)
    return;
  auto parent = std::find_if(config.shares.begin(), config.shares.end(),
                             [&](const ShareInfo& s) { return s.shareId == *share.parentShareId; });
  if (parent == config.shares.end() || parent->isSubfolder())
    entry.fail("ParentShareId", "must name an ordinary share listed before it");
  if (!isClientId(*share.internalName))
    entry.fail("InternalName", "must be an id of letters, digits, '-' and '_'");
}

void readShares(const ConfigObject& top, ServiceConfig& config) {
  for (const ConfigObject& entry : top.objects("Shares")) {
    ShareInfo share = shareFieldsOf(entry);
    if (!isClientId(share.shareId) || std::any_of(config.shares.begin(), config.shares.end(),
                                                  [&](const ShareInfo& s) { return s.shareId == share.shareId; })) {
      entry.fail("ShareId", "must be a distinct id of letters, digits, '-' and '_'");
    }
    if (share.name.empty())
      entry.fail("Name", "must not be empty");
    if (!contains(config.domains, share.domain))
      entry.fail("Domain", "is not one of \"Domains\"");
    if (!share.companyId.empty() &&
        std::none_of(config.companies.begin(), config.companies.end(),
                     [&](const CompanyInfo& c) { return c.companyId == share.companyId; })) {
      entry.fail("CompanyId", "is not one of \"Companies\"");
    }
    for (const std::string& user : share.users) {
      if (config.user(user) == nullptr)
        entry.fail("Users", "names \"" + user + "\", who is not one of \"Users\"");
    }
    readShareParent(entry, config, share);
    config.shares.push_back(std::move(share));
  }
}

std::vector<std::string> splitPath(const ConfigObject& entry, const std::string& path) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    std::string component = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (!isSafePathComponent(component))
      entry.fail("Path", "must be names separated by \"/\", without empty, \".\" or \"..\" parts");
    components.push_back(std::move(component));
    if (slash == std::string::npos)
      break;
    start = slash + 1;
  }
  return components;
}

void readContent(const ConfigObject& entry, SeedFile& file) {
  file.folder = entry.optionalBool("Folder").value_or(false);
  file.text = entry.optionalString("Text");
  file.seed = entry.optionalUnsigned("Seed");
  std::optional<std::int64_t> size = entry.optionalInteger("Size", 0, std::int64_t{1} << 40);
  int kinds = (file.folder ? 1 : 0) + (file.text ? 1 : 0) + (size || file.seed ? 1 : 0);
  if (kinds != 1)
    entry.fail("Folder", "or \"Text\" or \"Size\" (with \"Seed\"): exactly one kind of item is needed");
  file.size = file.text ? static_cast<std::int64_t>(file.text->size()) : size.value_or(0);
  if (!file.folder && !file.text)
    file.seed = file.seed.value_or(0);
}

void readFiles(const ConfigObject& top, ServiceConfig& config) {
  for (const ConfigObject& entry : top.objects("Files")) {
    entry.allowOnly(
        {"Share", "Path", "Folder", "Size", "Seed", "Text", "InternalName", "User", "LockedBy", "LockDeviceId"});
    SeedFile file;
    file.shareId = entry.string("Share");
    auto share = std::find_if(config.shares.begin(), config.shares.end(),
                              [&](const ShareInfo& s) { return s.shareId == file.shareId; });
    if (share == config.shares.end() || share->isSubfolder())
      entry.fail("Share", "must name an ordinary share of \"Shares\"");
    file.path = splitPath(entry, entry.string("Path"));
    readContent(entry, file);
    file.internalName = entry.optionalString("InternalName");
    if (file.internalName && !isClientId(*file.internalName))
      entry.fail("InternalName", "must be an id of letters, digits, '-' and '_'");
    file.user = entry.optionalString("User").value_or(config.users.front().identity.email);
    file.lockedBy = entry.optionalString("LockedBy");
    file.lockDeviceId =
        entry.optionalString("LockDeviceId").value_or(derivedId("device:" + file.lockedBy.value_or("")));
    if (file.lockedBy && (file.folder || file.lockedBy->empty()))
      entry.fail("LockedBy", "must be a user's e-mail, on a file");
    config.files.push_back(std::move(file));
  }
}

// A subfolder share stands for a folder the seed files create with that internal name.
void checkSubfolderShares(const ConfigObject& top, const ServiceConfig& config) {
  auto shares = top.objects("Shares");
  for (std::size_t i = 0; i < config.shares.size(); ++i) {
    const ShareInfo& share = config.shares[i];
    if (share.isSubfolder() && std::none_of(config.files.begin(), config.files.end(), [&](const SeedFile& f) {
          return f.folder && f.shareId == *share.parentShareId && f.internalName == share.internalName;
        })) {
      shares[i].fail("InternalName", "names no folder of share \"" + *share.parentShareId + "\" in \"Files\"");
    }
  }
}

} // namespace

ServiceConfig ServiceConfig::fromJson(const nlohmann::json& json, const std::string& origin) {
  ConfigObject top(json, origin, "");
  top.allowOnly({"Deployment", "Issuer", "Domains", "Users", "Companies", "Shares", "Files"});
  ServiceConfig config;
  readDeployment(top, origin, config);
  config.domains = top.strings("Domains");
  if (config.domains.empty())
    top.fail("Domains", "must name at least one domain");
  for (std::size_t i = 0; i < config.domains.size(); ++i) {
    if (!isDomainName(config.domains[i]) ||
        std::count(config.domains.begin(), config.domains.end(), config.domains[i]) > 1)
      top.fail("Domains[" + std::to_string(i) + "]", "must be a distinct domain name");
  }
  readUsers(top, config);
  readCompanies(top, config);
  readShares(top, config);
  readFiles(top, config);
  checkSubfolderShares(top, config);
  return config;
}

ServiceConfig ServiceConfig::load(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw ConfigError(file.string() + ": cannot be read");
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded())
    throw ConfigError(file.string() + ": is not valid JSON");
  return fromJson(json, file.string());
}

ServiceConfig ServiceConfig::demo() {
  return fromJson(demoJson(), "built-in demo data");
}

void ServiceConfig::useBrand(const BrandFile& brand) {
  deployment = brand.deployment;
  issuer = brand.issuer();
  while (!issuer.empty() && issuer.back() == '/')
    issuer.pop_back();
  if (!isIssuer(issuer))
    throw ConfigError(brand.path.string() + ": \"OVAuthURL\" must be \"https://\" and a host name, nothing more");
}

std::string ServiceConfig::issuerHost() const {
  return issuer.substr(std::string("https://").size());
}

std::vector<ServiceUser> ServiceConfig::identityUsers() const {
  std::vector<ServiceUser> identities;
  for (const UserConfig& user : users)
    identities.push_back(user.identity);
  return identities;
}

const UserConfig* ServiceConfig::user(const std::string& email) const {
  auto found = std::find_if(users.begin(), users.end(), [&](const UserConfig& u) { return u.identity.email == email; });
  return found == users.end() ? nullptr : &*found;
}

} // namespace orvex::service
