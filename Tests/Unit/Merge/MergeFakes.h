// Recording stand-ins for the modules the store tells about its changes: the
// upload queue, the download queue, the drive's open files and the file
// manager. Each is used on the test's own thread (the store calls them on the
// thread that makes the change or runs the merge).
#pragma once

#include "Store/OVDownloadTracker.h"
#include "Store/OVFile.h"
#include "Store/OVFinderRefresher.h"
#include "Store/OVOpenFileBookkeeping.h"
#include "Store/OVPathChangeListener.h"
#include "Store/OVUploadTracker.h"

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace orvex::test {

class RecordingUploads final : public OVUploadTracker {
 public:
  bool existsOperationOnFileWithInternalName(const std::string& internalName) override {
    if (onOperationQuery) {
      onOperationQuery(internalName);
    }
    return operations.contains(internalName);
  }
  bool uploadUnconfirmed(const OVFile& file) override { return unconfirmed.contains(file.internalName); }
  void confirmUpload(const OVFile& file) override { confirmed.push_back(file.internalName); }
  void cancelUpload(const OVFile& file) override { cancelled.push_back(file.internalName); }
  void uploadsAdded() override { ++added; }
  bool upload(const OVFile& file) override {
    queued.push_back(file);
    return true;
  }

  std::set<std::string> operations;                         // ids with an operation queued or running
  std::set<std::string> unconfirmed;                        // ids sent and not confirmed yet
  std::function<void(const std::string&)> onOperationQuery; // runs inside the merge, once per record
  std::vector<std::string> confirmed;
  std::vector<std::string> cancelled;
  std::vector<OVFile> queued;
  int added = 0;
};

class RecordingDownloads final : public OVDownloadTracker {
 public:
  bool isFileDownloaded(const OVFile& file) override { return downloaded.contains(file.internalName); }
  std::set<std::string> downloaded;
};

class RecordingOpenFiles final : public OVOpenFileBookkeeping {
 public:
  void fileWasModified(const OVFile& file) override { modified.push_back(file.internalName); }
  void exchangeFileId(const std::string& firstId, const std::string& secondId) override {
    exchanged.emplace_back(firstId, secondId);
  }
  std::vector<std::string> modified;
  std::vector<std::pair<std::string, std::string>> exchanged;
};

class RecordingFinder final : public OVFinderRefresher {
 public:
  void refreshFinderFolders(const std::set<std::string>& folderIds) override {
    if (onRefresh) {
      onRefresh();
    }
    refreshed.push_back(folderIds);
  }
  std::function<void()> onRefresh;
  std::vector<std::set<std::string>> refreshed;
};

// Records the drive paths each change reported, and whether the store's
// transaction lock was free when it did (it must be: the drive may wait for
// a reader of the store before it takes the paths).
class RecordingPaths final : public OVPathChangeListener {
 public:
  void pathsChanged(std::vector<std::string> paths) override {
    reported.emplace_back(paths.begin(), paths.end());
    if (storeIsFree)
      freeEachTime = freeEachTime && storeIsFree();
  }
  std::function<bool()> storeIsFree;
  bool freeEachTime = true;
  std::vector<std::set<std::string>> reported;
};

} // namespace orvex::test
