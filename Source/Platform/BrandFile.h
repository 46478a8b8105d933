// The brand file: what a build of the program is called and which service
// deployment it talks to. A JSON object holding the application's information
// keys ("CFBundleName", "OVBrandName", ...) and a "Deployment" object with the
// host labels, default domain, probe host, CA file and connect-to overrides.
// Installed read-only with the program; ORVEX_BRAND_FILE points elsewhere.
#pragma once

#include "Platform/XdgDirs.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// One connect-to override, as curl's --connect-to: requests for HOST:PORT go to
// CONNECT-HOST:CONNECT-PORT instead, with TLS still checked against HOST. An
// empty host or a port 0 matches any (or, on the right side, keeps the original).
struct ConnectTo {
  std::string host;
  std::uint16_t port = 0;
  std::string connectHost;
  std::uint16_t connectPort = 0;
};
// nullopt when `text` is not "HOST:PORT:CONNECT-HOST:CONNECT-PORT" (IPv6 hosts in brackets).
std::optional<ConnectTo> parseConnectTo(std::string_view text);

// Where the service lives. A host name is a host label, a dot and a domain.
struct Deployment {
  std::string clientGatewayHostLabel = "gateway";
  std::string fileCacheHostLabel = "files";
  std::string frontEndHostLabel = "www";
  std::string identityProviderHostLabel = "login";
  std::string defaultDomain = "orvex.example";
  // The host whose reachability stands for "the internet is reachable".
  std::string probeHost = "www.orvex.example";
  std::uint16_t probePort = 443;
  // Extra certificate authorities to trust (tests, private deployments); a
  // relative path in the file is taken relative to the brand file's folder.
  std::optional<std::filesystem::path> caFile;
  // Validated "HOST:PORT:CONNECT-HOST:CONNECT-PORT" texts, ready for curl.
  std::vector<std::string> connectTo;

  std::string clientGatewayHost(const std::string& domain) const { return clientGatewayHostLabel + "." + domain; }
  std::string fileCacheHost(const std::string& domain) const { return fileCacheHostLabel + "." + domain; }
  std::string frontEndHost(const std::string& domain) const { return frontEndHostLabel + "." + domain; }
};

// Immutable once loaded; safe to read from any thread. Every key missing from
// the file has the default shown; a key of the wrong type or with an unusable
// value is logged as a warning and gets its default too.
struct BrandFile {
  std::string bundleName = "Orvex";         // "CFBundleName": a single path component
  std::string brandName = "Orvex";          // "OVBrandName"
  std::string appStoreUrl;                  // "OVAppStoreUrl"
  std::optional<std::string> globalAddress; // "OVGlobalAddress": a host name or "*"
  std::string shortVersion = "1.0.0";       // "CFBundleShortVersionString"
  std::string bundleVersion = "1";          // "CFBundleVersion"
  std::optional<std::string> authURL;       // "OVAuthURL": the OpenID issuer
  std::optional<std::string> oauthTenant;   // "OVOAuthTenant"
  std::optional<std::string> localAuth;     // "OVLocalAuth": a name, or a flag read as "1"/"0"
  std::optional<std::string> brandingColor; // "OVBrandingColor"
  Deployment deployment;
  std::filesystem::path path; // the file read; empty for built-in defaults

  // "OVAuthURL", or the identity provider's host under the default domain.
  std::string issuer() const;

  // Reads `file`; a missing or unreadable file gives the defaults and a warning.
  static BrandFile load(const std::filesystem::path& file);
  // Takes the keys of `json`; `origin` names the file in warnings and anchors relative paths.
  static BrandFile fromJson(const nlohmann::json& json, const std::filesystem::path& origin);
  // ORVEX_BRAND_FILE; else the installed "<prefix>/share/orvex/brand.json" next to
  // `executable`'s "<prefix>/bin"; else `sourceResources`/brand.json.
  static std::filesystem::path locate(const XdgEnvironment& env, const std::filesystem::path& executable,
                                      const std::filesystem::path& sourceResources);
  // locate() for this process (its environment, /proc/self/exe, the source tree), then load().
  static BrandFile loadForProcess();
};

} // namespace orvex
