// The upload queue's status side: what the drive's attributes, the badges, the
// logout and the menu-bar window ask about pending local changes, answered from
// the store's rows.
//
// Limits of this version: it neither scans for pending rows nor sends anything.
// No operation is ever queued, so `unconfirmedUploads` stays empty (a node is
// never "unconfirmed"), `existsOperationOnFileWithInternalName` is always
// false, and `upload`, `uploadsAdded` and `cancelUpload` leave the rows pending
// for the sending side to find. The queries below are already the real ones.
#pragma once

#include "Drive/OVDriveTransferStatus.h"
#include "Store/OVFile.h"
#include "Store/OVUploadTracker.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace orvex {

class OVDatabase;
class Clock;

// Thread-safe. unconfirmedUploads_ is guarded by unconfirmedMutex_, which is
// never held while the store is asked, so the store may call in during its
// transactions. pathQueryMutex_ lets one pathHasUploads walk at a time.
class OVUploadQueue final : public OVUploadTracker, public OVDriveUploadStatus {
 public:
  // `database` must outlive the queue.
  explicit OVUploadQueue(OVDatabase& database, Clock& clock);

  // Rows new or with changed contents exist; logout is refused meanwhile.
  bool hasUploads();
  // A file whose changed contents wait (status 2). New files and folders do not count.
  bool isFileInUploadQueue(const OVFile& file) override;
  // A folder at or above `path` directly holds a new or changed node.
  bool pathHasUploads(const std::string& path) override;
  // Sizes and number of the rows new or with changed contents.
  std::int64_t queueBytes();
  std::int64_t queueLen();

  // OVUploadTracker.
  bool existsOperationOnFileWithInternalName(const std::string& internalName) override;
  bool uploadUnconfirmed(const OVFile& file) override;
  void confirmUpload(const OVFile& file) override;
  void cancelUpload(const OVFile& file) override;
  void uploadsAdded() override;
  bool upload(const OVFile& file) override;

 private:
  OVDatabase& database_;
  Clock& clock_;

  std::mutex unconfirmedMutex_;
  std::map<std::string, OVFile> unconfirmedUploads_; // guarded by unconfirmedMutex_
  std::mutex pathQueryMutex_;
};

} // namespace orvex
