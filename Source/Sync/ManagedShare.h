// One share as the service describes it in the user's profile, with the
// user's rights on it. The client overwrites a few members itself (marked
// "local" below) and keeps the whole record as its JSON text in the share
// store. Member names are the JSON keys, letter for letter.
//
// Plain values: no shared state, safe to copy between threads.
#pragma once

#include "Sync/OVDate.h"
#include "Sync/WireNumber.h"
#include "Sync/WireRecord.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

struct ShareACL : WireRecord<ShareACL> {
  std::optional<std::string> ShareId;
  std::optional<WireNumber> AclType; // 0 read-only, 2 owner, anything else neither
  std::optional<std::string> ShareShareRights;
  std::optional<std::string> FileShareRights;
  std::optional<std::string> AclToken; // authorizes catch-up requests for the share

  static constexpr std::string_view kWireName = "ShareACL";
  static bool readWire(const nlohmann::json& object, ShareACL& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const ShareACL&, const ShareACL&) = default;
};

struct ManagedShare : WireRecord<ManagedShare> {
  std::optional<std::string> VshareId;
  std::optional<std::string> ShareId; // the share's identity; a share without it is not kept
  std::optional<std::string> CompanyId;
  std::optional<std::string> VshareName;
  std::optional<std::string> ShareName; // local: normalized to NFD when received
  std::optional<std::string> TransmitId;
  std::optional<std::string> AliasName;
  std::optional<std::string> DisplayName;   // local: the share's folder name at the drive root
  std::optional<std::string> ParentShareId; // subfolder share: the share containing it
  std::optional<std::string> InternalName;  // subfolder share: the folder it stands for
  std::optional<WireNumber> ShareType;      // 1 marks a subfolder share
  std::int32_t AssociationType = 0;         // local: from the matching SharingCompany, else 0
  std::int32_t Status = 0;
  bool ShareChanged = false;
  bool Online = false;
  std::int32_t TransmitCounter = 0;        // local
  std::int32_t LastApplyedJournalTick = 0; // local: last merged share tick, -1 when never caught up
  std::optional<WireNumber> LastUpdate;
  std::optional<OVDate> LastBufferEntry;
  std::optional<std::vector<nlohmann::json>> ConflicTnternalId; // not used; kept as received
  std::optional<ShareACL> ShareAcl;
  std::optional<std::string> GateWayUrl; // local: the domain name the share came from
  std::optional<OVDate> NextCathUp;
  std::optional<OVDate> CreationDate;     // local: last received in a profile
  std::optional<OVDate> ModificationDate; // local: last received, or last merge that changed a node
  std::optional<std::string> CompanyName;
  std::optional<WireNumber> Synchronize; // local: taken over from the stored copy

  // ShareType present and equal to 1.
  bool isSubfolderShare() const;
  // ShareAcl present with an AclType equal to 0.
  bool isReadOnly() const;
  // ShareAcl.AclType equal to 2, or else AssociationType equal to 2.
  bool isOwned() const;

  static constexpr std::string_view kWireName = "ManagedShare";
  static bool readWire(const nlohmann::json& object, ManagedShare& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const ManagedShare&, const ManagedShare&) = default;
};

} // namespace orvex
