// What the metadata database does to the cached contents of nodes: it deletes
// them when downloads expire or the server replaced them, creates the empty
// content of a file made on the drive, and moves contents when a safe save or
// a move between shares gives a node another identity or share. The database
// is the lower module and sees the cache only through this interface.
#pragma once

#include <string_view>

namespace orvex {

class OVFile;

// Implementations must be safe to call from any thread and must not call back
// into the database.
class OVCacheEraser {
 public:
  OVCacheEraser() = default;
  OVCacheEraser(const OVCacheEraser&) = delete;
  OVCacheEraser& operator=(const OVCacheEraser&) = delete;
  virtual ~OVCacheEraser() = default;

  // The complete content and its attribute side file.
  virtual void deleteFileCache(const OVFile& file) = 0;
  // The partial download file.
  virtual void deleteFileDownload(const OVFile& file) = 0;
  // An empty complete content (files only), replacing any file in its place.
  virtual void createCacheFile(const OVFile& file) = 0;
  // The new node's content and side file take the old node's places.
  virtual void exchangeFileCaches(const OVFile& oldFile, const OVFile& newFile) = 0;
  // The node's content and side file move to another share's folder.
  virtual void moveFileCacheWithId(std::string_view internalName, std::string_view fromShareId,
                                   std::string_view toShareId) = 0;
};

} // namespace orvex
