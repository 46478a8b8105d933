// Device id, name and operating-system text, with the id kept in a real
// settings file.
#include "Network/OVDeviceIdentity.h"

#include "OVSettings.h"
#include "Support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvex {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

constexpr const char* kMachineId = "4c4c4544004a3510804cb4c04f4e4d32";

class DeviceIdentityTest : public ::testing::Test {
 protected:
  DeviceIdentityTest()
      : settingsFile(dir / "settings.json", OVSettings::schema("Orvex")), settings(brand(), settingsFile) {}

  static BrandFile brand() {
    BrandFile b;
    b.bundleName = "Orvex";
    return b;
  }

  OVDeviceIdentity identity(std::string hostName = "host", std::string release = "6.1.0-18-amd64") {
    DeviceSources sources;
    sources.machineIdFile = dir / "machine-id";
    sources.hostName = [hostName] { return hostName; };
    sources.kernelRelease = [release] { return release; };
    return OVDeviceIdentity(DeviceIdSetting{[this] { return settings.deviceId(); },
                                            [this](const std::string& id) { settings.setDeviceId(id); }},
                            sources);
  }

  // The id as written in the file, as the next start will read it.
  std::string storedOnDisk() const {
    auto json = nlohmann::json::parse(readFile(dir / "settings.json"));
    return json.value("Orvex.deviceId", "");
  }

  TempDir dir;
  SettingsFile settingsFile;
  OVSettings settings;
};

const auto isUpperCaseUUID =
    ::testing::MatchesRegex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");

TEST_F(DeviceIdentityTest, AStoredIdIsKept) {
  writeFile(dir / "machine-id", std::string(kMachineId) + "\n");
  settings.setDeviceId("C02XK0ABJGH5");
  EXPECT_EQ(identity().getDeviceId(), "C02XK0ABJGH5");
}

TEST_F(DeviceIdentityTest, AnEmptyStoredIdIsReplacedByTheMachinesAndStored) {
  writeFile(dir / "machine-id", std::string(kMachineId) + "\n");
  settings.setDeviceId("");
  const std::string id = identity().getDeviceId();
  EXPECT_THAT(id, isUpperCaseUUID);
  EXPECT_EQ(id.find("4C4C4544"), std::string::npos) << "the machine id itself must not leave the computer";
  EXPECT_EQ(storedOnDisk(), id);
  // Stable: the same machine gives the same id even when the setting is lost.
  settings.setDeviceId("");
  EXPECT_EQ(identity().getDeviceId(), id);

  writeFile(dir / "machine-id", "0123456789abcdef0123456789abcdef\n");
  settings.setDeviceId("");
  EXPECT_NE(identity().getDeviceId(), id);
}

TEST_F(DeviceIdentityTest, WithoutAUsableMachineIdARandomUUIDIsChosenOnce) {
  for (const char* content : {"", "uninitialized\n", "00000000000000000000000000000000\n", "4c4c4544\n",
                              "zz4c4544004a3510804cb4c04f4e4d32\n"}) {
    SCOPED_TRACE(content);
    writeFile(dir / "machine-id", content);
    settings.setDeviceId("");
    auto first = identity();
    const std::string id = first.getDeviceId();
    EXPECT_THAT(id, isUpperCaseUUID);
    EXPECT_EQ(first.getDeviceId(), id);
    EXPECT_EQ(identity().getDeviceId(), id);
    EXPECT_EQ(storedOnDisk(), id);
  }
  std::filesystem::remove(dir / "machine-id");
  settings.setDeviceId("");
  EXPECT_THAT(identity().getDeviceId(), isUpperCaseUUID);
}

TEST_F(DeviceIdentityTest, NameAndOperatingSystem) {
  EXPECT_EQ(identity("workstation").getDeviceName(), "workstation");
  EXPECT_EQ(identity("").getDeviceName(), "Unknown");
  EXPECT_EQ(identity("h", "6.1.0-18-amd64").getDeviceOS(), "Linux 6.1.0");
  EXPECT_EQ(OVDeviceIdentity::osText("5.10"), "Linux 5.10.0");
  EXPECT_EQ(OVDeviceIdentity::osText("6.5.0rc1+"), "Linux 6.5.0");
  EXPECT_EQ(OVDeviceIdentity::osText("4.19.0.1"), "Linux 4.19.0");
  EXPECT_EQ(OVDeviceIdentity::osText(""), "Linux 0.0.0");
  EXPECT_EQ(OVDeviceIdentity::osText("6.x"), "Linux 6.0.0");
}

} // namespace
} // namespace orvex
