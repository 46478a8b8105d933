// What the metadata database and its neighbours need from the share store: the
// user's shares of every domain, each shown as one top-level folder of the drive.
// The database is the lower module and sees the store only through this
// interface; the application shell hands it the real store (OVMetadataStorage),
// tests a fake.
#pragma once

#include "Sync/ManagedShare.h"
#include "Sync/OVDate.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

struct ClientLoginResponse;

// Records cross threads as immutable snapshots: a lookup answers the share as
// it was at that moment, and a caller may keep it as long as it likes. Every
// change makes a new snapshot inside the store (copy on write), so a reader
// never sees a record half changed. A null pointer means "no such share".
using ManagedSharePtr = std::shared_ptr<const ManagedShare>;

// Every member is safe to call from any thread; implementations serialise
// lookups and changes with one lock of their own, and call no other module
// while holding it.
class OVShareStore {
 public:
  OVShareStore() = default;
  OVShareStore(const OVShareStore&) = delete;
  OVShareStore& operator=(const OVShareStore&) = delete;
  virtual ~OVShareStore() = default;

  // Lifecycle. `load` forgets the shares in memory and reads the stored ones;
  // `save` writes them now; `clear` forgets them and deletes the stored data.
  virtual void load() = 0;
  virtual void save() = 0;
  // Schedules a save a few seconds from now; a burst of changes is written once.
  virtual void saveDelayed() = 0;
  // The same, and once that save is done the automatic downloads are re-checked.
  virtual void saveDelayedAndRecheckAutomaticDownloadsWhenDone() = 0;
  virtual void clear() = 0;
  // True until shares were loaded from disk or received; true again after clear().
  virtual bool storageEmpty() const = 0;

  // Lookups; each answers nullptr when no share matches.
  // Every known share, the temporary-files share included.
  virtual std::vector<ManagedSharePtr> shares() const = 0;
  virtual ManagedSharePtr shareWithId(std::string_view shareId) const = 0;
  // `path` is "/" followed by a display name; case and Unicode composition do not matter.
  virtual ManagedSharePtr shareWithPath(std::string_view path) const = 0;
  // The share of any drive path: the one named by its first component.
  virtual ManagedSharePtr shareWithFilePath(std::string_view path) const = 0;
  // The folder share standing for the folder with this internal name.
  virtual ManagedSharePtr shareWithInternalName(std::string_view internalName) const = 0;
  // The folder shares inside the share `shareId`, ordered by share id.
  virtual std::vector<ManagedSharePtr> subfolderSharesForShareId(std::string_view shareId) const = 0;

  // Changes.
  // Merges one domain's profile: new shares are added with a free folder name,
  // known ones updated, and the domain's shares the profile no longer lists removed.
  virtual void updateSharesForDomain(const ClientLoginResponse& profile, const std::string& domain) = 0;
  // The user's rename of a share's folder; false when the name is blank or taken.
  // The store is not saved by it.
  virtual bool renameShare(const ManagedShare& share, const std::string& newName) = 0;
  // Forgets the share with the ShareId of `share` and removes its cached contents.
  virtual void deleteShareData(const ManagedShare& share) = 0;
  // Deletes every share whose domain is not in `domains` (the temporary-files share stays).
  virtual void deleteDomainShares(const std::vector<std::string>& domains) = 0;
  // The merge of remote changes records how far a share is caught up and when
  // its content last changed; false when the share is not known. Neither saves.
  virtual bool setLastApplyedJournalTick(std::string_view shareId, std::int32_t tick) = 0;
  virtual bool setModificationDate(std::string_view shareId, OVDate date) = 0;

  // Stored with the shares; always the empty text in this client. The setter
  // does not save: the database's forward saves right after it.
  virtual std::string globalLoginResponce() const = 0;
  virtual void setGlobalLoginResponce(const std::string& value) = 0;
};

} // namespace orvex
