// What the metadata database needs from the content cache: deleting a node's
// cached content when its download expires or is forgotten. The database is
// the lower module and sees the cache only through this interface.
#pragma once

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
};

} // namespace orvex
