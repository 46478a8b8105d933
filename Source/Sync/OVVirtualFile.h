// The service's description of one file or folder of a share, as it travels
// inside journal records, catch-up pages, real-time messages and upload
// replies, with its nested lock record. Member names are the JSON keys, letter
// for letter ("ParrentId", "FilehHash"). Records embedding it use the key
// "OvVirtualFile" ("OvVirtualFiles" for a list).
//
// Plain values: no shared state, safe to copy between threads.
#pragma once

#include "Sync/OVDate.h"
#include "Sync/WireNumber.h"
#include "Sync/WireRecord.h"

#include <cstdint>
#include <optional>
#include <string>

namespace orvex {

struct FileLock : WireRecord<FileLock> {
  std::optional<WireNumber> IsLocked;  // 1 when the item is locked
  std::optional<std::string> DeviceId; // computer holding the lock
  std::optional<WireNumber> LockTime;  // tick of the lock (the file record's lockTick)
  std::optional<std::string> LockedBy; // user holding the lock

  static constexpr std::string_view kWireName = "FileLock";
  static bool readWire(const nlohmann::json& object, FileLock& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const FileLock&, const FileLock&) = default;
};

struct OVVirtualFile : WireRecord<OVVirtualFile> {
  std::optional<std::string> ShareId;
  std::optional<std::string> UploadUrl;
  std::optional<std::string> UploadName;
  std::optional<std::string> ArchivedFullName;
  std::optional<std::string> InternalName;  // the item's id
  std::optional<std::string> ParrentId;     // id of the parent folder
  std::optional<std::string> ParentShareId; // for items of a folder share
  std::optional<std::string> PublicName;    // display name
  std::optional<std::string> User;
  std::optional<std::string> LastUploadName;
  std::optional<std::string> FilehHash; // content hash
  // Per-share change counters (not times).
  std::int32_t Tick = 0;
  std::int32_t ShareTick = 0;
  std::int32_t UpdateTick = 0;
  std::int32_t CreateTick = 0;
  std::optional<WireNumber> EndOfFile;      // size in bytes
  std::optional<WireNumber> AllocationSize; // allocated size in bytes
  OVDate CreationTime{};
  OVDate LastAccessTime{};
  OVDate LastWriteTime{};
  std::optional<WireNumber> Attributes;       // Windows-style bits: 16 folder, 128 plain file
  std::optional<WireNumber> POSIXPermissions; // mode bits, file flags above bit 16
  std::optional<::orvex::FileLock> FileLock;
  bool Local = false;
  bool Deleted = false;
  bool IsFile = false;

  // A copy of every member except FileLock, which the copy leaves absent.
  OVVirtualFile copy() const;

  static constexpr std::string_view kWireName = "OVVirtualFile";
  static bool readWire(const nlohmann::json& object, OVVirtualFile& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const OVVirtualFile&, const OVVirtualFile&) = default;
};

} // namespace orvex
