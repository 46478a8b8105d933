// The plain records the service's state is made of: shares as the service
// defines them, nodes with their content, upload sessions, public links, and
// who makes a change. Plain values, copied out of the state under its lock.
#pragma once

#include "Sync/JournalRecords.h"
#include "Sync/OVVirtualFile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace orvex::service {

// A tick given by a client (64-bit on the wire) as the service counts them.
inline std::int32_t clampTick(std::int64_t tick) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(tick, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

// The user (e-mail) and device on whose behalf a change is made: a client's
// journal event, or the admin API acting as someone else.
struct Actor {
  std::string user;
  std::string deviceId;
  // Seeding and the admin API act for users whose rights the service does not
  // model per user: for them read-only shares are writable.
  bool privileged = false;
};

struct CompanyInfo {
  std::string companyId;
  std::string name;
  std::int32_t associationType = 0; // 2: the users own this company's shares
};

struct ShareInfo {
  std::string shareId;
  std::string name;
  std::string domain;
  std::string companyId;
  std::int32_t aclType = 1; // 0 read-only, 2 owner, other values neither
  std::string aclToken;     // what catch-up requests must present
  // A subfolder share stands for the folder `internalName` of share `parentShareId`:
  // it shows that folder's subtree and counts the parent share's ticks.
  std::optional<std::string> parentShareId;
  std::optional<std::string> internalName;
  // Who sees the share; empty: every user of the domain.
  std::vector<std::string> users;

  bool isSubfolder() const { return parentShareId.has_value(); }
  bool isReadOnly() const { return aclType == 0; }
  bool visibleTo(const std::string& user) const;

  nlohmann::json toJson() const;
  // Throws nlohmann::json::exception on a malformed object (only the state's own files hold these).
  static ShareInfo fromJson(const nlohmann::json& object);
};

// A node as a client describes it in a journal event: the fields the service
// takes from it (it sets ticks, user, content fields and lock itself).
OVVirtualFile nodeSpec(const std::string& internalName, const std::string& parentId, const std::string& name,
                       bool isFile, std::int64_t size, OVDate time);

// One node of a share as the service keeps it: the wire record (with the
// share's ticks) and the blob holding a file's content.
struct StoredNode {
  OVVirtualFile file;
  std::string blobId; // empty for folders
};

// Bytes being uploaded for a create or content-update event.
struct UploadSession {
  std::string address;        // names the upload address; a service id
  std::string shareId;        // the share the event was posted to
  OVNewAPIJournalEvent event; // as announced, with UserOrigin set
  std::int64_t expectedLength = 0;
  std::int64_t position = 0; // bytes received so far
  std::string blobId;        // where they go
  // When it started or last took a chunk: milliseconds since 1970 on the
  // service's calendar clock, as sessions outlive restarts. 0: not known.
  std::int64_t lastActivityMs = 0;

  nlohmann::json toJson() const;
  static UploadSession fromJson(const nlohmann::json& object);
};

struct PublicLink {
  std::string linkId;
  std::string shareId; // the share holding the node (never a subfolder share)
  std::string internalName;
};

} // namespace orvex::service
