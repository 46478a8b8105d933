#include "OVSettings.h"

#include "OVLogger.h"
#include "Store/OVShareStore.h"

#include <sys/stat.h>
#include <utf8proc.h>

#include <cerrno>
#include <system_error>

namespace orvex {
namespace {

// Keys stored as they are, shared by every title.
constexpr const char* kExcessiveLoggingKey = "OVExcessiveLogging";
constexpr const char* kDisableSignalRKey = "OVDisableSignalR";
constexpr const char* kDisableRootMountKey = "OVDisableRootMount";
constexpr const char* kMountPathKey = "OVMountPath";
constexpr const char* kCleanShutdownKey = "cleanShutdown";
constexpr const char* kHasLaunchedBeforeKey = "SUHasLaunchedBefore";

// Keys stored under "<title>.".
constexpr const char* kStoreFilesKey = "storeFiles";
constexpr const char* kUploadScreenshotsKey = "uploadScreenshots";
constexpr const char* kUploadScreenshotsPathKey = "uploadScreenshotsPath";
constexpr const char* kCreateScreenshotLinkKey = "createScreenshotLink";
constexpr const char* kAppStoreInfoRemindLaterKey = "appStoreInfoRemindLater";
constexpr const char* kRunsOnStartupKey = "runsOnStartup";
constexpr const char* kLastMigratedVersionKey = "lastMigratedVersion";
constexpr const char* kEnableDebugLogKey = "enableDebugLog";
constexpr const char* kDeviceIdKey = "deviceId";
constexpr const char* kLanguageKey = "language";

constexpr std::int64_t kDefaultStoreDays = 60;
constexpr mode_t kSettingsFolderMode = 0700;

std::string globalAddressOf(const BrandFile& brand) {
  if (!brand.globalAddress || *brand.globalAddress == "*")
    return kDefaultGlobalAddress;
  return *brand.globalAddress;
}

bool isDataIslandOf(const BrandFile& brand) {
  return brand.globalAddress && *brand.globalAddress != "*";
}

// How many bytes at the start of `path` spell `prefix`, letter case aside;
// nothing when `path` does not start with it. Bytes that are not valid UTF-8
// must match exactly.
std::optional<std::size_t> caseInsensitivePrefix(std::string_view path, std::string_view prefix) {
  auto bytes = [](std::string_view text) { return reinterpret_cast<const utf8proc_uint8_t*>(text.data()); };
  std::size_t inPath = 0;
  std::size_t inPrefix = 0;
  while (inPrefix < prefix.size()) {
    if (inPath >= path.size())
      return std::nullopt;
    utf8proc_int32_t a = -1;
    utf8proc_int32_t b = -1;
    utf8proc_ssize_t usedA =
        utf8proc_iterate(bytes(path) + inPath, static_cast<utf8proc_ssize_t>(path.size() - inPath), &a);
    utf8proc_ssize_t usedB =
        utf8proc_iterate(bytes(prefix) + inPrefix, static_cast<utf8proc_ssize_t>(prefix.size() - inPrefix), &b);
    if (usedA <= 0 || usedB <= 0) {
      if (path[inPath] != prefix[inPrefix])
        return std::nullopt;
      ++inPath;
      ++inPrefix;
      continue;
    }
    if (utf8proc_tolower(a) != utf8proc_tolower(b))
      return std::nullopt;
    inPath += static_cast<std::size_t>(usedA);
    inPrefix += static_cast<std::size_t>(usedB);
  }
  return inPath;
}

// A path inside a share with empty and "." components dropped; nothing when a
// component would climb out of the share ("..") or holds a NUL.
std::optional<std::string> innerSharePath(std::string_view rest) {
  std::string clean;
  while (!rest.empty()) {
    std::size_t slash = rest.find('/');
    std::string_view component = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (component.empty() || component == ".")
      continue;
    if (component == ".." || component.find('\0') != std::string_view::npos)
      return std::nullopt;
    if (!clean.empty())
      clean += '/';
    clean += component;
  }
  return clean;
}

} // namespace

OVSettings::OVSettings(BrandFile brand, SettingsFile& settings)
    : brand_(std::move(brand)),
      settings_(settings),
      globalAddress_(globalAddressOf(brand_)),
      isDataIsland_(isDataIslandOf(brand_)) {
  readSwitches();
}

SettingsSchema OVSettings::schema(const std::string& title) {
  auto titled = [&title](const char* key) { return title + "." + key; };
  return {
      {kMountPathKey, SettingType::String},
      {kCleanShutdownKey, SettingType::Boolean},
      {kHasLaunchedBeforeKey, SettingType::Boolean},
      {titled(kStoreFilesKey), SettingType::Integer},
      {titled(kUploadScreenshotsKey), SettingType::Boolean},
      {titled(kUploadScreenshotsPathKey), SettingType::String},
      {titled(kCreateScreenshotLinkKey), SettingType::Boolean},
      {titled(kAppStoreInfoRemindLaterKey), SettingType::Boolean},
      {titled(kRunsOnStartupKey), SettingType::Boolean},
      {titled(kLastMigratedVersionKey), SettingType::String},
      {titled(kEnableDebugLogKey), SettingType::Boolean},
      {titled(kDeviceIdKey), SettingType::String},
      {titled(kLanguageKey), SettingType::String},
  };
}

std::optional<std::filesystem::path> OVSettings::settingsFilePath(const std::string& title, const XdgEnvironment& env) {
  std::optional<std::filesystem::path> config = configHome(env);
  if (!config)
    return std::nullopt;
  return *config / title / "settings.json";
}

std::unique_ptr<SettingsFile> OVSettings::openSettingsFile(const BrandFile& brand, const XdgEnvironment& env,
                                                           Clock& clock) {
  std::optional<std::filesystem::path> path = settingsFilePath(brand.bundleName, env);
  if (!path) {
    OVLog(kLogMain, "Error! No home folder known: neither $HOME nor the password database names one");
    return nullptr;
  }
  // Intermediate folders (~/.config itself) get 0700 too, as the XDG rules ask.
  std::filesystem::path folder;
  for (const auto& part : path->parent_path()) {
    folder /= part;
    if (::mkdir(folder.c_str(), kSettingsFolderMode) != 0 && errno != EEXIST) {
      OVLog(kLogMain, "Error! Cannot create settings folder {}: {}", folder.string(),
            std::error_code(errno, std::generic_category()).message());
      return nullptr;
    }
  }
  return std::make_unique<SettingsFile>(*path, schema(brand.bundleName), clock);
}

std::string OVSettings::prependAppTitle(const std::string& key) const {
  return appTitle() + "." + key;
}

std::string OVSettings::getGlobalAddress() const {
  return globalAddressOf(brand_);
}

bool OVSettings::getIsDataIsland() const {
  return isDataIslandOf(brand_);
}

void OVSettings::readSwitches() {
  excessiveLogging_ = settings_.contains(kExcessiveLoggingKey);
  disableSignalR_ = settings_.contains(kDisableSignalRKey);
  noRootMount_ = settings_.contains(kDisableRootMountKey);
}

std::optional<std::string> OVSettings::mountPathOverride() const {
  return settings_.string(kMountPathKey);
}

bool OVSettings::cleanShutdown() const {
  return settings_.boolean(kCleanShutdownKey).value_or(false);
}

void OVSettings::setCleanShutdown() {
  settings_.set(kCleanShutdownKey, true);
}

void OVSettings::removeCleanShutdown() {
  settings_.remove(kCleanShutdownKey);
}

void OVSettings::setHasLaunchedBefore() {
  settings_.set(kHasLaunchedBeforeKey, true);
}

std::int64_t OVSettings::getStoreDownloadedFiles() const {
  return settings_.integer(prependAppTitle(kStoreFilesKey)).value_or(kDefaultStoreDays);
}

void OVSettings::setStoreDownloadedFiles(std::int64_t days) {
  settings_.set(prependAppTitle(kStoreFilesKey), days);
}

bool OVSettings::getUploadScreenshots() const {
  return settings_.boolean(prependAppTitle(kUploadScreenshotsKey)).value_or(false);
}

void OVSettings::setUploadScreenshots(bool on) {
  if (on != getUploadScreenshots())
    settings_.set(prependAppTitle(kUploadScreenshotsKey), on);
}

std::string OVSettings::getUploadScreenshotsPath(const OVShareStore& shares, std::string_view mountPath) const {
  std::optional<std::string> stored = settings_.string(prependAppTitle(kUploadScreenshotsPathKey));
  if (!stored || stored->empty())
    return "";
  std::size_t slash = stored->find('/');
  std::string_view value = *stored;
  ManagedSharePtr share = shares.shareWithId(value.substr(0, slash));
  if (!share || !share->DisplayName)
    return "";
  std::optional<std::string> inner = innerSharePath(slash == std::string::npos ? "" : value.substr(slash + 1));
  if (!inner) {
    OVLog(kLogMain, "Warning! Screenshot destination \"{}\" leaves its share; not used", *stored);
    return "";
  }
  std::string path = std::string(mountPath) + "/" + *share->DisplayName;
  if (!inner->empty())
    path += "/" + *inner;
  return path;
}

void OVSettings::setUploadScreenshotsPath(std::string_view path, const OVShareStore& shares,
                                          std::string_view mountPath) {
  while (mountPath.size() > 1 && mountPath.back() == '/')
    mountPath.remove_suffix(1);
  std::optional<std::size_t> mountLength = caseInsensitivePrefix(path, mountPath);
  if (!mountLength)
    return;
  std::string_view remainder = path.substr(*mountLength);
  if (!remainder.empty() && remainder.front() != '/')
    return; // "/home/u/Orvex2" is not inside "/home/u/Orvex"
  // "/Share" names the share, whatever follows its next "/" is the path inside it.
  std::string_view sharePart = remainder;
  std::string_view rest;
  if (remainder.size() >= 2) {
    std::size_t slash = remainder.find('/', 1);
    sharePart = remainder.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : remainder.substr(slash + 1);
  }
  ManagedSharePtr share = shares.shareWithPath(sharePart);
  std::optional<std::string> inner = innerSharePath(rest);
  if (!share || !share->ShareId || !inner)
    return;
  settings_.set(prependAppTitle(kUploadScreenshotsPathKey),
                inner->empty() ? *share->ShareId : *share->ShareId + "/" + *inner);
}

void OVSettings::resetUploadScreenshotsPath() {
  settings_.remove(prependAppTitle(kUploadScreenshotsPathKey));
  settings_.synchronize();
  setUploadScreenshots(false);
}

bool OVSettings::getCreateScreenshotLink() const {
  return settings_.boolean(prependAppTitle(kCreateScreenshotLinkKey)).value_or(false);
}

void OVSettings::setCreateScreenshotLink(bool on) {
  settings_.set(prependAppTitle(kCreateScreenshotLinkKey), on);
}

bool OVSettings::getAppStoreInfoRemindLater() const {
  return settings_.boolean(prependAppTitle(kAppStoreInfoRemindLaterKey)).value_or(true);
}

void OVSettings::setAppStoreInfoRemindLater(bool on) {
  if (on != getAppStoreInfoRemindLater())
    settings_.set(prependAppTitle(kAppStoreInfoRemindLaterKey), on);
}

bool OVSettings::runsOnStartup() const {
  return settings_.boolean(prependAppTitle(kRunsOnStartupKey)).value_or(false);
}

bool OVSettings::runsOnStartupWasWritten() const {
  return settings_.contains(prependAppTitle(kRunsOnStartupKey));
}

void OVSettings::setRunsOnStartup(bool on) {
  settings_.set(prependAppTitle(kRunsOnStartupKey), on);
}

std::optional<std::string> OVSettings::lastMigratedVersion() const {
  return settings_.string(prependAppTitle(kLastMigratedVersionKey));
}

void OVSettings::setLastMigratedVersion(const std::string& version) {
  settings_.set(prependAppTitle(kLastMigratedVersionKey), version);
}

bool OVSettings::enableDebugLog() const {
  return settings_.boolean(prependAppTitle(kEnableDebugLogKey)).value_or(false);
}

void OVSettings::setEnableDebugLog(bool on) {
  settings_.set(prependAppTitle(kEnableDebugLogKey), on);
}

std::optional<std::string> OVSettings::deviceId() const {
  return settings_.string(prependAppTitle(kDeviceIdKey));
}

void OVSettings::setDeviceId(const std::string& deviceId) {
  settings_.set(prependAppTitle(kDeviceIdKey), deviceId);
}

std::optional<std::string> OVSettings::language() const {
  return settings_.string(prependAppTitle(kLanguageKey));
}

void OVSettings::setLanguage(const std::string& language) {
  settings_.set(prependAppTitle(kLanguageKey), language);
}

void OVSettings::resetUserDefaults() {
  settings_.removeAllExcept({prependAppTitle(kRunsOnStartupKey), prependAppTitle(kLastMigratedVersionKey),
                             prependAppTitle(kDeviceIdKey), prependAppTitle(kStoreFilesKey),
                             prependAppTitle(kLanguageKey)});
}

} // namespace orvex
