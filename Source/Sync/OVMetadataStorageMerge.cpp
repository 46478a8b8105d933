// Merging one domain's profile into the share store, and the naming rules that
// give every share a folder name of its own at the root of the drive.
#include "Drive/OVFuseUtils.h"
#include "OVLogger.h"
#include "Platform/SafePathComponent.h"
#include "Store/OVDatabaseConstants.h"
#include "Sync/OVMetadataStorage.h"
#include "Sync/ProfileRecords.h"
#include "Sync/ShareNameText.h"

#include <fmt/format.h>

namespace orvex {
namespace {

// The folder name a share's server name asks for.
std::string folderNameFor(const ManagedShare& share) {
  return folderNameFromServerName(share.ShareName.value_or(""), share.ShareId.value_or(""));
}

std::int32_t associationTypeFor(const ManagedShare& share, const std::vector<SharingCompany>& companies) {
  for (const SharingCompany& company : companies) {
    if (company.CompanyId == share.CompanyId)
      return company.AssociationType;
  }
  return 0;
}

} // namespace

bool OVMetadataStorage::nameTakenLocked(std::string_view name) const {
  std::string key = keyFromPath(fmt::format("/{}", name));
  // The temporary-files share is re-created under its name after every merge.
  return sharesByPath_.count(key) != 0 || key == keyFromPath(fmt::format("/{}", kTempFolder));
}

std::string OVMetadataStorage::freeNameLocked(const std::string& wanted) const {
  std::string name = wanted;
  for (int suffix = 2; nameTakenLocked(name); ++suffix)
    name = fmt::format("{} ({})", wanted, suffix);
  return name;
}

void OVMetadataStorage::updateSharesForDomain(const ClientLoginResponse& profile, const std::string& domain) {
  {
    Lock lock(storageLock_);
    ShareMap stale; // the domain's shares this profile does not list (yet)
    for (const auto& [id, share] : shares_) {
      if (share->GateWayUrl == domain)
        stale.emplace(id, share);
    }
    static const std::vector<SharingCompany> kNoCompanies;
    const std::vector<SharingCompany>& companies = profile.SharingCompanies ? *profile.SharingCompanies : kNoCompanies;
    if (profile.ManagedShares) {
      for (const ManagedShare& received : *profile.ManagedShares)
        mergeShareLocked(received, companies, domain, stale);
    }
    for (const auto& [id, share] : stale) {
      OVLog(kLogMain, "Share {} deleted remotely - cleaning up all share data.", share->DisplayName.value_or(""));
      deleteShareDataLocked(*share);
    }
    recreateTempShareLocked();
    storageEmpty_ = false;
  }
  saveDelayed();
  if (rootFolderChanged_)
    rootFolderChanged_();
}

void OVMetadataStorage::mergeShareLocked(const ManagedShare& received, const std::vector<SharingCompany>& companies,
                                         const std::string& domain, ShareMap& stale) {
  // The id names the share's cache folder and the temporary-files share's id is ours.
  if (!received.ShareId || !isSafePathComponent(*received.ShareId) || *received.ShareId == kTempShareId) {
    OVLog(kLogMain, "Warning! Share {} of domain {} has no usable share id (\"{}\") - not kept.",
          received.ShareName.value_or(""), domain, received.ShareId.value_or(""));
    return;
  }
  auto share = std::make_shared<ManagedShare>(received);
  ManagedSharePtr old = shareWithId(*share->ShareId);
  if (share->ShareName)
    share->ShareName = decomposedString(*share->ShareName);
  share->AssociationType = associationTypeFor(*share, companies);
  share->GateWayUrl = domain;
  share->CreationDate = now();
  share->ModificationDate = share->CreationDate;

  if (old) {
    stale.erase(*share->ShareId);
    share->TransmitCounter = old->TransmitCounter;
    share->LastApplyedJournalTick = old->LastApplyedJournalTick;
    share->Synchronize = old->Synchronize;
    unregisterShareLocked(*old->ShareId);
    if (share->ShareName == old->ShareName) {
      share->DisplayName = old->DisplayName;
    } else {
      share->DisplayName = renamedRemotelyLocked(*old, *share);
      OVLog(kLogMain, "Share {} renamed remotely - renaming to {}.", old->DisplayName.value_or(""),
            *share->DisplayName);
    }
    registerShareLocked(std::move(share));
    return;
  }
  share->LastApplyedJournalTick = -1;
  share->DisplayName = freeNameLocked(folderNameFor(*share));
  OVLog(kLogMain, "Adding new share - {}. Local name will be {}", share->ShareName.value_or(""), *share->DisplayName);
  registerShareLocked(share);
  createFolderForShare(*share);
}

// A share still showing its server name follows the server's new name; one the
// user renamed keeps that name and shows the new server name beside it.
std::string OVMetadataStorage::renamedRemotelyLocked(const ManagedShare& old, const ManagedShare& received) const {
  const std::string serverName = folderNameFor(received);
  const std::string oldName = old.DisplayName.value_or("");
  std::string wanted = oldName == folderNameFor(old) ? serverName : fmt::format("{} ({})", oldName, serverName);
  return freeNameLocked(wanted);
}

} // namespace orvex
