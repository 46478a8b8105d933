// The share store on disk: loading and saving "shares.db", the delayed save,
// and clearing the stored share data.
#include "OVLogger.h"
#include "Platform/AtomicFile.h"
#include "Platform/KeepAside.h"
#include "Platform/SafePathComponent.h"
#include "Platform/WholeFile.h"
#include "Store/OVDatabaseConstants.h"
#include "Store/OVFileCache.h"
#include "Sync/OVMetadataStorage.h"
#include "Sync/OVShareStoreFile.h"
#include "Sync/ShareNameText.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace orvex {
namespace {

constexpr mode_t kStoreFileMode = 0600;

std::string errorText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

} // namespace

// ---- Loading -----------------------------------------------------------------

void OVMetadataStorage::load() {
  Lock lock(storageLock_);
  shares_.clear();
  sharesByPath_.clear();
  writeBlocked_ = false;
  storageEmpty_ = !readStoreFileLocked();
  recreateTempShareLocked();
}

bool OVMetadataStorage::readStoreFileLocked() {
  WholeFile file = readWholeFile(storeFile_);
  if (!file.exists)
    return false;
  if (file.error != 0) {
    keepStoreFileAsideLocked(false, "cannot be read: " + errorText(file.error));
    return false;
  }
  std::string why;
  std::optional<OVShareStoreFileContent> content = decodeShareStoreFile(file.text, why);
  if (!content) {
    keepStoreFileAsideLocked(false, why);
    return false;
  }
  std::size_t dropped = content->droppedEntries;
  for (const std::string& json : content->shares) {
    if (!loadShareLocked(json))
      ++dropped;
  }
  globalLoginResponce_ = content->globalResponce;
  // The next save would lose the entries left out: keep the file as it was.
  if (dropped != 0)
    keepStoreFileAsideLocked(true, fmt::format("{} of its shares could not be used", dropped));
  return true;
}

bool OVMetadataStorage::loadShareLocked(const std::string& json) {
  WireResult<ManagedShare> parsed = ManagedShare::fromJSONText(json);
  if (!parsed) {
    OVLog(kLogMain, "Warning! Cannot deserialize share from metadata storage. Error {}", parsed.error());
    return false;
  }
  auto share = std::make_shared<ManagedShare>(std::move(parsed).value());
  if (!share->ShareId) {
    OVLog(kLogMain, "Warning! Deserialized share doesn't have share id!");
    return false;
  }
  if (!isSafePathComponent(*share->ShareId)) {
    OVLog(kLogMain, "Warning! Deserialized share has a share id that cannot name a folder: \"{}\" - skipped.",
          *share->ShareId);
    return false;
  }
  if (*share->ShareId == kTempShareId)
    return true; // re-created after the load
  if (!share->DisplayName)
    share->DisplayName = share->ShareName;
  // An edited file may hold a name the drive cannot show, or one already taken.
  std::string name = share->DisplayName.value_or("");
  if (!isSafePathComponent(name) || isBlank(name))
    name = folderNameFromServerName(share->ShareName.value_or(""), *share->ShareId);
  name = freeNameLocked(name);
  if (name != share->DisplayName) {
    OVLog(kLogMain, "Warning! Stored share {} cannot keep the folder name \"{}\" - renamed to {}.", *share->ShareId,
          share->DisplayName.value_or(""), name);
    share->DisplayName = name;
  }
  share->TransmitCounter = 0;
  registerShareLocked(share);
  createFolderForShare(*share);
  return true;
}

void OVMetadataStorage::keepStoreFileAsideLocked(bool copy, const std::string& why) {
  std::optional<std::filesystem::path> aside = keepFileAside(storeFile_, clock_.wallNow(), copy);
  if (aside) {
    OVLog(kLogMain, "Warning! Share store file {} {}; {} {}", storeFile_.string(), why, copy ? "copied to" : "moved to",
          aside->string());
    return;
  }
  OVLog(kLogMain, "Warning! Share store file {} {} and cannot be kept aside; it is left untouched", storeFile_.string(),
        why);
  writeBlocked_ = true;
}

// ---- Saving ------------------------------------------------------------------

OVShareStoreFileContent OVMetadataStorage::fileContentLocked() const {
  OVShareStoreFileContent content;
  content.shares.reserve(shares_.size());
  for (const auto& [id, share] : shares_)
    content.shares.push_back(share->toJSONText());
  content.globalResponce = globalLoginResponce_;
  return content;
}

void OVMetadataStorage::save() {
  std::function<void()> recheck;
  {
    Lock lock(storageLock_);
    OVLog(kLogMain, "Saving file metadata...");
    if (writeBlocked_) {
      OVLog(kLogMain, "Warning! Shares not saved: {} could not be read or kept aside and is left untouched",
            storeFile_.string());
    } else if (auto error =
                   writeFileAtomically(storeFile_, encodeShareStoreFile(fileContentLocked()), kStoreFileMode)) {
      OVLog(kLogMain, "Warning! Cannot write share store file {}: {}", storeFile_.string(), error.message());
    }
    if (recheckAutomaticDownloads_) {
      recheckAutomaticDownloads_ = false;
      recheck = automaticDownloadsCheck_;
    }
  }
  if (recheck)
    recheck();
}

// The timer lives on the main queue; any thread may (re)arm it.
void OVMetadataStorage::saveDelayed() {
  std::lock_guard lock(saveTimerMutex_);
  pendingSave_.cancel();
  pendingSave_ = mainQueue_.after(kSaveDelay, [this] { save(); });
}

void OVMetadataStorage::saveDelayedAndRecheckAutomaticDownloadsWhenDone() {
  {
    Lock lock(storageLock_);
    recheckAutomaticDownloads_ = true;
  }
  saveDelayed();
}

// ---- Clearing ----------------------------------------------------------------

void OVMetadataStorage::clear() {
  Lock lock(storageLock_);
  globalLoginResponce_.clear();
  shares_.clear();
  sharesByPath_.clear();
  std::error_code error;
  std::filesystem::directory_iterator entry(fileCache_.metadataPath(), error);
  for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    std::error_code typeError;
    if (!name.ends_with(".db") || entry->is_directory(typeError))
      continue;
    std::error_code removeError;
    if (!std::filesystem::remove(entry->path(), removeError) && removeError)
      OVLog(kLogMain, "Warning! Cannot remove metadata file {} : error {}", name, removeError.message());
  }
  if (error)
    OVLog(kLogMain, "Warning! Cannot list metadata folder {} : error {}", fileCache_.metadataPath().string(),
          error.message());
  writeBlocked_ = false;
  storageEmpty_ = true;
}

} // namespace orvex
