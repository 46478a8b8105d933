// The application's settings: the brand's fixed keys and the user's settings
// file, with the key names, types and defaults the rest of the program uses.
// Most user keys are stored as "<title>.<key>" so that builds with different
// titles keep separate values even in one file.
#pragma once

#include "Dispatch/Clock.h"
#include "Platform/BrandFile.h"
#include "Platform/SettingsFile.h"
#include "Platform/XdgDirs.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

class OVShareStore;

// The global directory host when the brand names none (or names "*").
inline constexpr const char* kDefaultGlobalAddress = "global.orvex.example";

// Thread-safe. The brand values, globalAddress() and isDataIsland() are constant
// after construction; the switches are written by readSwitches() only, on the
// main thread during start-up, and are atomics so that any thread may read
// them. Everything else goes straight to the SettingsFile, which locks itself.
// The SettingsFile must outlive this object.
class OVSettings {
 public:
  OVSettings(BrandFile brand, SettingsFile& settings);

  // The types of the keys below for `title`, for the SettingsFile to check at load.
  static SettingsSchema schema(const std::string& title);
  // "$XDG_CONFIG_HOME/<title>/settings.json"; nullopt when no home folder is known.
  static std::optional<std::filesystem::path> settingsFilePath(const std::string& title, const XdgEnvironment& env);
  // Creates the settings folder (mode 0700) when missing and opens the file with
  // the schema for the brand's title. nullptr, with an error logged, when the
  // folder is unknown or cannot be created.
  static std::unique_ptr<SettingsFile> openSettingsFile(const BrandFile& brand, const XdgEnvironment& env,
                                                        Clock& clock = Clock::system());

  // Brand keys.
  const std::string& appTitle() const { return brand_.bundleName; }
  const std::string& brandName() const { return brand_.brandName; }
  const std::string& appStoreUrlString() const { return brand_.appStoreUrl; }
  const BrandFile& brand() const { return brand_; }
  // "<title>.<key>".
  std::string prependAppTitle(const std::string& key) const;

  // Computed from the brand on every call; the two below are the values at construction.
  std::string getGlobalAddress() const;
  bool getIsDataIsland() const;
  const std::string& globalAddress() const { return globalAddress_; }
  bool isDataIsland() const { return isDataIsland_; }

  // The switches count by presence, whatever their value, and are read once:
  // a change to the file takes effect at the next start.
  void readSwitches();
  bool excessiveLogging() const { return excessiveLogging_; }
  bool disableSignalR() const { return disableSignalR_; }
  bool noRootMount() const { return noRootMount_; }

  // "OVMountPath" as stored (tilde not yet expanded).
  std::optional<std::string> mountPathOverride() const;

  // "cleanShutdown": removed at each start, YES after an orderly exit.
  bool cleanShutdown() const;
  void setCleanShutdown();
  void removeCleanShutdown();
  // "SUHasLaunchedBefore" = YES.
  void setHasLaunchedBefore();

  // Days that downloaded contents stay cached; -1 keeps them forever, 0 means 4 hours.
  std::int64_t getStoreDownloadedFiles() const;
  void setStoreDownloadedFiles(std::int64_t days);
  bool getUploadScreenshots() const;
  void setUploadScreenshots(bool on); // writes only when the value changes
  // The screenshot destination, stored as "<share id>/<path inside the share>"
  // so that it follows the share when its folder is renamed. The full path of
  // that folder under `mountPath`; "" when nothing is stored, the share is no
  // longer known, or the stored path would leave the share.
  std::string getUploadScreenshotsPath(const OVShareStore& shares, std::string_view mountPath) const;
  // Stores `path` when it lies inside a share's folder on the drive at
  // `mountPath` (letter case aside); any other path leaves the stored value as it was.
  void setUploadScreenshotsPath(std::string_view path, const OVShareStore& shares, std::string_view mountPath);
  // Forgets the destination and turns the screenshot upload off.
  void resetUploadScreenshotsPath();
  bool getCreateScreenshotLink() const;
  void setCreateScreenshotLink(bool on);
  bool getAppStoreInfoRemindLater() const;  // YES when never written
  void setAppStoreInfoRemindLater(bool on); // writes only when the value changes
  // Stores the choice only; making it happen at login is the caller's job.
  bool runsOnStartup() const;
  bool runsOnStartupWasWritten() const;
  void setRunsOnStartup(bool on);
  std::optional<std::string> lastMigratedVersion() const;
  void setLastMigratedVersion(const std::string& version);
  bool enableDebugLog() const;
  void setEnableDebugLog(bool on);
  std::optional<std::string> deviceId() const;
  void setDeviceId(const std::string& deviceId);
  std::optional<std::string> language() const;
  void setLanguage(const std::string& language);

  // Removes every key except the start-at-login choice, the last migrated
  // version, the device id, the storage period and the language of this title.
  void resetUserDefaults();

  SettingsFile& file() { return settings_; }

 private:
  // Constant after construction.
  const BrandFile brand_;
  SettingsFile& settings_;
  const std::string globalAddress_;
  const bool isDataIsland_;

  std::atomic<bool> excessiveLogging_{false};
  std::atomic<bool> disableSignalR_{false};
  std::atomic<bool> noRootMount_{false};
};

} // namespace orvex
