// The brand file: overrides, defaults for what is missing or unusable, and
// where the program looks for it.
#include "Platform/BrandFile.h"

#include "Support/LogCapture.h"
#include "Support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvex {
namespace {

using test::LogCapture;
using test::TempDir;
using test::writeFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

BrandFile fromText(const std::string& text, const std::filesystem::path& origin = "/etc/orvex/brand.json") {
  return BrandFile::fromJson(nlohmann::json::parse(text), origin);
}

TEST(BrandFileTest, EveryKeyOverridesItsDefault) {
  LogCapture log;
  BrandFile brand = fromText(R"({
    "CFBundleName": "OrvexBeta", "OVBrandName": "Acme Drive", "OVAppStoreUrl": "https://store/x",
    "OVGlobalAddress": "dir.acme.test", "CFBundleShortVersionString": "2.3.4", "CFBundleVersion": "77",
    "OVAuthURL": "https://id.acme.test", "OVOAuthTenant": "acme", "OVLocalAuth": true, "OVBrandingColor": "#fff",
    "Deployment": {
      "ClientGatewayHostLabel": "cg", "FileCacheHostLabel": "fc", "FrontEndHostLabel": "web",
      "IdentityProviderHostLabel": "idp", "DefaultDomain": "acme.test", "ProbeHost": "127.0.0.1",
      "ProbePort": 8443, "CAFile": "certs/ca.pem",
      "ConnectTo": ["::127.0.0.1:8443", "cg.acme.test:443:[::1]:9443"]
    }})");

  EXPECT_EQ(brand.bundleName, "OrvexBeta");
  EXPECT_EQ(brand.brandName, "Acme Drive");
  EXPECT_EQ(brand.appStoreUrl, "https://store/x");
  EXPECT_EQ(brand.globalAddress, "dir.acme.test");
  EXPECT_EQ(brand.shortVersion, "2.3.4");
  EXPECT_EQ(brand.bundleVersion, "77");
  EXPECT_EQ(brand.issuer(), "https://id.acme.test");
  EXPECT_EQ(brand.oauthTenant, "acme");
  EXPECT_EQ(brand.localAuth, "1");
  EXPECT_EQ(brand.brandingColor, "#fff");
  const Deployment& d = brand.deployment;
  EXPECT_EQ(d.clientGatewayHost("acme.test"), "cg.acme.test");
  EXPECT_EQ(d.fileCacheHost("b.test"), "fc.b.test");
  EXPECT_EQ(d.frontEndHost("acme.test"), "web.acme.test");
  EXPECT_EQ(d.defaultDomain, "acme.test");
  EXPECT_EQ(d.probeHost, "127.0.0.1");
  EXPECT_EQ(d.probePort, 8443);
  EXPECT_EQ(d.caFile, "/etc/orvex/certs/ca.pem");
  EXPECT_THAT(d.connectTo, ElementsAre("::127.0.0.1:8443", "cg.acme.test:443:[::1]:9443"));
  EXPECT_THAT(log.warnings(), IsEmpty());
}

TEST(BrandFileTest, MissingKeysTakeDefaultsWithoutWarnings) {
  LogCapture log;
  BrandFile brand = fromText(R"({"Deployment": {}})");
  EXPECT_EQ(brand.bundleName, "Orvex");
  EXPECT_EQ(brand.brandName, "Orvex");
  EXPECT_EQ(brand.globalAddress, std::nullopt);
  EXPECT_EQ(brand.authURL, std::nullopt);
  EXPECT_EQ(brand.issuer(), "https://login.orvex.example"); // derived from the deployment
  EXPECT_EQ(brand.deployment.clientGatewayHost("orvex.example"), "gateway.orvex.example");
  EXPECT_EQ(brand.deployment.caFile, std::nullopt);
  EXPECT_THAT(log.warnings(), IsEmpty());
}

TEST(BrandFileTest, UnusableValuesAreReportedAndDefaulted) {
  LogCapture log;
  BrandFile brand = fromText(R"({
    "CFBundleName": "../etc", "OVBrandName": 5, "OVLocalAuth": [1], "OVGlobalAddress": "a b",
    "Deployment": {"FileCacheHostLabel": "files.x", "DefaultDomain": "-bad.test", "ProbePort": 70000,
                   "ConnectTo": ["a:443:b", "a:443:b:9443", 7]}})");

  EXPECT_EQ(brand.bundleName, "Orvex");
  EXPECT_EQ(brand.brandName, "Orvex");
  EXPECT_EQ(brand.localAuth, std::nullopt);
  EXPECT_EQ(brand.globalAddress, std::nullopt);
  EXPECT_EQ(brand.deployment.fileCacheHostLabel, "files");
  EXPECT_EQ(brand.deployment.defaultDomain, "orvex.example");
  EXPECT_EQ(brand.deployment.probePort, 443);
  EXPECT_THAT(brand.deployment.connectTo, ElementsAre("a:443:b:9443"));
  EXPECT_THAT(log.warnings(),
              ElementsAre(HasSubstr("\"CFBundleName\""), HasSubstr("\"OVBrandName\""), HasSubstr("\"OVGlobalAddress\""),
                          HasSubstr("\"OVLocalAuth\""), HasSubstr("\"Deployment.FileCacheHostLabel\""),
                          HasSubstr("\"Deployment.DefaultDomain\""), HasSubstr("\"Deployment.ProbePort\""),
                          HasSubstr("\"a:443:b\""), HasSubstr(" 7 ")));
}

TEST(BrandFileTest, UnreadableFilesGiveDefaultsAndAWarning) {
  LogCapture log;
  TempDir dir;
  EXPECT_EQ(BrandFile::load(dir / "absent.json").bundleName, "Orvex");
  writeFile(dir / "brand.json", R"(["CFBundleName", "X"])");
  EXPECT_EQ(BrandFile::load(dir / "brand.json").bundleName, "Orvex");
  writeFile(dir / "brand.json", R"({"CFBundleName": "X", "Deployment": []})");
  BrandFile partial = BrandFile::load(dir / "brand.json");
  EXPECT_EQ(partial.bundleName, "X");
  EXPECT_EQ(partial.path, dir / "brand.json");
  EXPECT_THAT(log.warnings(), SizeIs(3));
}

TEST(BrandFileTest, ShippedBrandFileIsCleanAndPointsAtTheExampleDomain) {
  LogCapture log;
  BrandFile brand = BrandFile::load(std::filesystem::path(ORVEX_SOURCE_RESOURCES) / "brand.json");
  EXPECT_EQ(brand.bundleName, "Orvex");
  EXPECT_EQ(brand.brandName, "Orvex");
  EXPECT_EQ(brand.shortVersion, "1.0.0");
  EXPECT_EQ(brand.bundleVersion, "1");
  EXPECT_EQ(brand.deployment.defaultDomain, "orvex.example");
  EXPECT_THAT(log.warnings(), IsEmpty());
}

TEST(BrandFileTest, ConnectToFollowsCurlsFormat) {
  auto parsed = parseConnectTo("gateway.orvex.example:443:127.0.0.1:8443");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->host, "gateway.orvex.example");
  EXPECT_EQ(parsed->port, 443);
  EXPECT_EQ(parsed->connectHost, "127.0.0.1");
  EXPECT_EQ(parsed->connectPort, 8443);
  auto anyHost = parseConnectTo("[::1]:443::");
  ASSERT_TRUE(anyHost);
  EXPECT_EQ(anyHost->host, "[::1]");
  EXPECT_EQ(anyHost->connectPort, 0);
  for (const char* bad : {"", "a:443:b", "a:443:b:1:2", "a:0:b:1", "a:443:b:65536", "a b:443:c:1", "a:4x:b:1"}) {
    EXPECT_FALSE(parseConnectTo(bad)) << bad;
  }
}

TEST(BrandFileTest, LocatePrefersTheVariableThenTheInstallationThenTheSourceTree) {
  TempDir dir;
  auto env = [](const std::optional<std::string>& value) {
    return XdgEnvironment{
        [value](const std::string& name) { return name == "ORVEX_BRAND_FILE" ? value : std::nullopt; },
        [] { return std::optional<std::string>(); }};
  };
  std::filesystem::path exe = dir / "prefix" / "bin" / "orvex";
  EXPECT_EQ(BrandFile::locate(env("/x/brand.json"), exe, "/src/Resources"), "/x/brand.json");
  EXPECT_EQ(BrandFile::locate(env(""), exe, "/src/Resources"), "/src/Resources/brand.json");

  std::filesystem::create_directories(dir / "prefix" / "share" / "orvex");
  writeFile(dir / "prefix" / "share" / "orvex" / "brand.json", "{}");
  EXPECT_EQ(BrandFile::locate(env(std::nullopt), exe, "/src/Resources"),
            dir / "prefix" / "share" / "orvex" / "brand.json");
}

} // namespace
} // namespace orvex
