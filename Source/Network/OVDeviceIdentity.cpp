#include "Network/OVDeviceIdentity.h"

#include "OVLogger.h"
#include "Platform/WholeFile.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <random>

namespace orvex {
namespace {

using UuidBytes = std::array<unsigned char, 16>;

// Fixed for this program: the same machine gives every program a different
// id, as machine-id(5) asks of anything that sends a machine's id away.
constexpr std::string_view kDeviceIdKey = "com.orvex.clouddrive.device-id.v1";

// Marks 16 bytes as a version-4, RFC 4122 UUID and writes it out in upper case.
std::string uuidText(UuidBytes bytes) {
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10)
      text += '-';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  return text;
}

// The 32 hexadecimal digits of a machine-id file, lower case; nullopt for
// anything else ("uninitialized" during the first boot, an empty file, all zeros).
std::optional<std::string> readMachineId(const std::filesystem::path& file) {
  WholeFile content = readWholeFile(file);
  if (!content.exists || content.error != 0)
    return std::nullopt;
  std::string id = std::move(content.text);
  while (!id.empty() && std::isspace(static_cast<unsigned char>(id.back())))
    id.pop_back();
  if (id.size() != 32 || !std::ranges::all_of(id, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
    return std::nullopt;
  std::ranges::transform(id, id.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
  if (id == std::string(32, '0'))
    return std::nullopt;
  return id;
}

} // namespace

DeviceSources DeviceSources::system() {
  DeviceSources sources;
  sources.hostName = [] {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof(name) - 1) != 0)
      return std::string();
    return std::string(name);
  };
  sources.kernelRelease = [] {
    utsname info{};
    if (uname(&info) != 0)
      return std::string();
    return std::string(info.release);
  };
  return sources;
}

OVDeviceIdentity::OVDeviceIdentity(DeviceIdSetting setting, DeviceSources sources)
    : setting_(std::move(setting)), sources_(std::move(sources)) {}

std::string OVDeviceIdentity::getDeviceId() {
  std::lock_guard lock(mutex_);
  if (auto stored = setting_.load(); stored && !stored->empty())
    return *stored;
  std::string id;
  if (auto derived = machineDeviceId(sources_.machineIdFile)) {
    id = *derived;
  } else {
    id = randomUUID();
    OVLog(kLogMain, "No machine id in {}; device id {} chosen at random", sources_.machineIdFile.string(), id);
  }
  setting_.store(id);
  return id;
}

std::string OVDeviceIdentity::getDeviceName() const {
  std::string name = sources_.hostName ? sources_.hostName() : std::string();
  return name.empty() ? "Unknown" : name;
}

std::string OVDeviceIdentity::getDeviceOS() const {
  return osText(sources_.kernelRelease ? sources_.kernelRelease() : std::string());
}

std::string OVDeviceIdentity::osText(std::string_view kernelRelease) {
  int parts[3] = {0, 0, 0};
  size_t at = 0;
  for (int& part : parts) {
    // Digits, then a dot leads to the next part; anything else ends the version.
    long value = 0;
    bool any = false;
    while (at < kernelRelease.size() && std::isdigit(static_cast<unsigned char>(kernelRelease[at])) &&
           value < 1000000) {
      value = value * 10 + (kernelRelease[at++] - '0');
      any = true;
    }
    part = static_cast<int>(value);
    if (!any || at >= kernelRelease.size() || kernelRelease[at] != '.')
      break;
    ++at;
  }
  return "Linux " + std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]);
}

std::optional<std::string> OVDeviceIdentity::machineDeviceId(const std::filesystem::path& file) {
  const std::string machineId = readMachineId(file).value_or("");
  if (machineId.empty())
    return std::nullopt;
  unsigned char digest[EVP_MAX_MD_SIZE] = {};
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), machineId.data(), static_cast<int>(machineId.size()),
           reinterpret_cast<const unsigned char*>(kDeviceIdKey.data()), kDeviceIdKey.size(), digest,
           &length) == nullptr ||
      length < 16)
    return std::nullopt;
  UuidBytes bytes{};
  std::copy_n(digest, bytes.size(), bytes.begin());
  return uuidText(bytes);
}

std::string OVDeviceIdentity::randomUUID() {
  UuidBytes bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    std::random_device device; // the kernel's generator as well, reached another way
    std::ranges::generate(bytes, [&] { return static_cast<unsigned char>(device()); });
  }
  return uuidText(bytes);
}

} // namespace orvex
