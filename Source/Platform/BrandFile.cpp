#include "Platform/BrandFile.h"

#include "OVLogger.h"
#include "Platform/ResourceLocator.h"
#include "Platform/SafePathComponent.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>

namespace orvex {
namespace {

constexpr size_t kMaxHostLength = 253;
constexpr size_t kMaxLabelLength = 63;

bool isAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The title names folders (mount point, configuration, cache), so it must be one path component.
bool isTitle(const std::string& name) {
  return isSafePathComponent(name);
}

bool isHostLabel(std::string_view label) {
  if (label.empty() || label.size() > kMaxLabelLength || label.front() == '-' || label.back() == '-')
    return false;
  for (char c : label) {
    if (!isAlnum(c) && c != '-')
      return false;
  }
  return true;
}

bool isDomainName(std::string_view name) {
  if (name.empty() || name.size() > kMaxHostLength)
    return false;
  for (;;) {
    size_t dot = name.find('.');
    if (!isHostLabel(name.substr(0, dot)))
      return false;
    if (dot == std::string_view::npos)
      return true;
    name.remove_prefix(dot + 1);
  }
}

// A host name or an IP literal (IPv6 in brackets, as in URLs).
bool isHost(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    for (char c : host.substr(1, host.size() - 2)) {
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
        return false;
    }
    return true;
  }
  return isDomainName(host);
}

std::optional<std::uint16_t> parsePort(std::string_view text) {
  unsigned value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

// Reads keys of one JSON object; a wrong type is a warning naming the key.
class KeyReader {
 public:
  KeyReader(const nlohmann::json& object, const std::filesystem::path& origin, std::string prefix)
      : object_(object), origin_(origin.string()), prefix_(std::move(prefix)) {}

  const nlohmann::json* find(const char* key) const {
    auto found = object_.find(key);
    return found == object_.end() ? nullptr : &*found;
  }

  std::optional<std::string> string(const char* key) const {
    const nlohmann::json* value = find(key);
    if (value == nullptr)
      return std::nullopt;
    if (value->is_string())
      return value->get<std::string>();
    reject(key, "is not a string");
    return std::nullopt;
  }

  // Sets `field` from `key` when present, a string and accepted by `valid`.
  void assign(const char* key, std::string& field, const std::function<bool(const std::string&)>& valid) const {
    std::optional<std::string> value = string(key);
    if (!value)
      return;
    if (valid(*value)) {
      field = std::move(*value);
    } else {
      reject(key, "has an unusable value");
    }
  }

  void assign(const char* key, std::optional<std::string>& field) const {
    if (auto value = string(key))
      field = std::move(*value);
  }

  void reject(const char* key, const char* why) const {
    OVLog(kLogMain, "Warning! Brand file {}: \"{}{}\" {} ({}); its default applies", origin_, prefix_, key, why,
          find(key) != nullptr ? find(key)->dump() : "");
  }

 private:
  const nlohmann::json& object_;
  std::string origin_;
  std::string prefix_;
};

bool nonEmpty(const std::string& value) {
  return !value.empty();
}

void readDeployment(const KeyReader& reader, const std::filesystem::path& origin, Deployment& deployment) {
  auto label = [](const std::string& value) { return isHostLabel(value); };
  reader.assign("ClientGatewayHostLabel", deployment.clientGatewayHostLabel, label);
  reader.assign("FileCacheHostLabel", deployment.fileCacheHostLabel, label);
  reader.assign("FrontEndHostLabel", deployment.frontEndHostLabel, label);
  reader.assign("IdentityProviderHostLabel", deployment.identityProviderHostLabel, label);
  reader.assign("DefaultDomain", deployment.defaultDomain, [](const std::string& v) { return isDomainName(v); });
  reader.assign("ProbeHost", deployment.probeHost, [](const std::string& v) { return isHost(v); });

  if (const nlohmann::json* port = reader.find("ProbePort")) {
    if (port->is_number_unsigned() && port->get<std::uint64_t>() >= 1 && port->get<std::uint64_t>() <= 65535) {
      deployment.probePort = static_cast<std::uint16_t>(port->get<std::uint64_t>());
    } else {
      reader.reject("ProbePort", "is not a port number");
    }
  }

  std::string caFile;
  reader.assign("CAFile", caFile, [](const std::string& v) { return !v.empty() && v.find('\0') == std::string::npos; });
  if (!caFile.empty())
    deployment.caFile = origin.parent_path() / caFile; // an absolute value replaces the folder

  if (const nlohmann::json* list = reader.find("ConnectTo")) {
    if (!list->is_array()) {
      reader.reject("ConnectTo", "is not a list");
      return;
    }
    for (const nlohmann::json& item : *list) {
      if (item.is_string() && parseConnectTo(item.get<std::string>())) {
        deployment.connectTo.push_back(item.get<std::string>());
      } else {
        OVLog(kLogMain,
              "Warning! Brand file {}: connect-to entry {} is not HOST:PORT:CONNECT-HOST:CONNECT-PORT; ignored",
              origin.string(), item.dump());
      }
    }
  }
}

} // namespace

std::optional<ConnectTo> parseConnectTo(std::string_view text) {
  // Split at the colons outside brackets: exactly four fields.
  std::vector<std::string_view> fields;
  size_t start = 0;
  bool inBrackets = false;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || (text[i] == ':' && !inBrackets)) {
      fields.push_back(text.substr(start, i - start));
      start = i + 1;
    } else if (text[i] == '[') {
      inBrackets = true;
    } else if (text[i] == ']') {
      inBrackets = false;
    }
  }
  if (fields.size() != 4)
    return std::nullopt;
  ConnectTo result;
  for (size_t side = 0; side < 2; ++side) {
    std::string_view host = fields[side * 2];
    std::string_view port = fields[side * 2 + 1];
    if (!host.empty() && !isHost(host))
      return std::nullopt;
    std::optional<std::uint16_t> number = port.empty() ? std::optional<std::uint16_t>(0) : parsePort(port);
    if (!number)
      return std::nullopt;
    (side == 0 ? result.host : result.connectHost) = std::string(host);
    (side == 0 ? result.port : result.connectPort) = *number;
  }
  return result;
}

std::string BrandFile::issuer() const {
  if (authURL)
    return *authURL;
  return "https://" + deployment.identityProviderHostLabel + "." + deployment.defaultDomain;
}

BrandFile BrandFile::fromJson(const nlohmann::json& json, const std::filesystem::path& origin) {
  BrandFile brand;
  brand.path = origin;
  KeyReader reader(json, origin, "");
  reader.assign("CFBundleName", brand.bundleName, isTitle);
  reader.assign("OVBrandName", brand.brandName, nonEmpty);
  reader.assign("OVAppStoreUrl", brand.appStoreUrl, nonEmpty);
  std::string globalAddress;
  reader.assign("OVGlobalAddress", globalAddress, [](const std::string& v) { return v == "*" || isHost(v); });
  if (!globalAddress.empty())
    brand.globalAddress = globalAddress;
  reader.assign("CFBundleShortVersionString", brand.shortVersion, nonEmpty);
  reader.assign("CFBundleVersion", brand.bundleVersion, nonEmpty);
  reader.assign("OVAuthURL", brand.authURL);
  reader.assign("OVOAuthTenant", brand.oauthTenant);
  reader.assign("OVBrandingColor", brand.brandingColor);
  if (const nlohmann::json* localAuth = reader.find("OVLocalAuth"); localAuth != nullptr && localAuth->is_boolean()) {
    brand.localAuth = localAuth->get<bool>() ? "1" : "0"; // how a property-list flag prints
  } else {
    reader.assign("OVLocalAuth", brand.localAuth);
  }

  if (const nlohmann::json* deployment = reader.find("Deployment")) {
    if (deployment->is_object()) {
      readDeployment(KeyReader(*deployment, origin, "Deployment."), origin, brand.deployment);
    } else {
      reader.reject("Deployment", "is not an object");
    }
  }
  return brand;
}

BrandFile BrandFile::load(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    OVLog(kLogMain, "Warning! Cannot read brand file {}: {}; built-in defaults apply", file.string(),
          std::error_code(errno, std::generic_category()).message());
    return BrandFile{};
  }
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object()) {
    OVLog(kLogMain, "Warning! Brand file {} does not hold a JSON object; built-in defaults apply", file.string());
    return BrandFile{};
  }
  return fromJson(json, file);
}

std::filesystem::path BrandFile::locate(const XdgEnvironment& env, const std::filesystem::path& executable,
                                        const std::filesystem::path& sourceResources) {
  if (auto chosen = env.variable("ORVEX_BRAND_FILE"); chosen && !chosen->empty()) {
    return *chosen;
  }
  return locateResource("brand.json", executable, sourceResources);
}

BrandFile BrandFile::loadForProcess() {
  return load(locate(XdgEnvironment::process(), currentExecutable(), sourceResourcesFolder()));
}

} // namespace orvex
