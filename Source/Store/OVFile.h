// One node of the drive tree (a file or a folder inside one share) and one row
// of the `files` table. A plain value: copy it freely; no member is shared.
#pragma once

#include "Dispatch/Clock.h"
#include "Sync/OVDate.h"

#include <cstdint>
#include <string>

namespace orvex {

class SqliteStatement;
struct OVVirtualFile;

// How the local row relates to the server's copy of the node.
enum OVFileStatus : std::uint32_t {
  kFileStatusSynchronized = 0,
  kFileStatusNew = 1,
  kFileStatusModified = 2,
  kFileStatusChanged = 3,
  kFileStatusUploaded = 4,
  kFileStatusShadow = 5,
  kFileStatusIgnored = 6,
};

// Tick value of "not yet known" (stored as -1).
inline constexpr std::uint64_t kUnknownTick = ~std::uint64_t{0};
inline constexpr std::uint64_t kDefaultFilePermissions = 0600;
inline constexpr std::uint64_t kDefaultFolderPermissions = 0700;

class OVFile {
 public:
  // Empty strings, unknown ticks, the three times now, status 1 (new), a file.
  explicit OVFile(const Clock& clock = Clock::system());
  // A row of `files` selected with all columns in table order.
  static OVFile fromRow(const SqliteStatement& row);
  // A remote node record; status 0 (synchronized).
  explicit OVFile(const OVVirtualFile& remote);
  static OVFile fileWithVirtualFile(const OVVirtualFile& remote) { return OVFile(remote); }
  // The reverse mapping, for telling the server about a local change.
  OVVirtualFile virtualFile() const;

  // "Name: ...\n isFile: ...\n size: ...\n status: ...\n internalName: ...\n parentId: ...\n share: ...\n"
  std::string description() const;

  friend bool operator==(const OVFile&, const OVFile&) = default;

  std::string publicName;
  std::string shareId;
  std::string uploadName;
  std::string internalName;
  std::string parentId;
  std::string user;
  std::string fileHash; // column `hash`
  std::uint64_t tick = kUnknownTick;
  std::uint64_t shareTick = kUnknownTick;
  std::uint64_t updateTick = kUnknownTick;
  std::uint64_t createTick = kUnknownTick;
  std::uint64_t fileSize = 0;
  OVDate createTime;
  OVDate accessTime;
  OVDate modifyTime;
  std::uint64_t attributes = 0;
  std::uint64_t permissions = 0;
  bool deleted = false;
  bool isFile = true;
  std::uint64_t status = kFileStatusNew;
  bool isLocked = false;
  std::string lockDeviceId;
  std::uint64_t lockTick = 0;
  std::string lockedBy;
  std::string parentShareId; // empty when absent

 private:
  struct RowTag {};
  explicit OVFile(RowTag) {}
};

// Unicode canonical decomposition (NFD) of UTF-8 text; invalid UTF-8 is returned unchanged.
std::string decomposedName(const std::string& name);

} // namespace orvex
