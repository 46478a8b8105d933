// What the metadata store asks of the file manager: to show folders again
// after their content changed.
#pragma once

#include <set>
#include <string>

namespace orvex {

// Called from any thread that changes the store, never while the store holds
// its transaction lock. Implementations hand the work to their own queue.
class OVFinderRefresher {
 public:
  OVFinderRefresher() = default;
  OVFinderRefresher(const OVFinderRefresher&) = delete;
  OVFinderRefresher& operator=(const OVFinderRefresher&) = delete;
  virtual ~OVFinderRefresher() = default;

  // Folder ids (a share id stands for the share's top folder).
  virtual void refreshFinderFolders(const std::set<std::string>& folderIds) = 0;
};

// The truth while no file-manager channel is open: no view shows the drive,
// so there is nothing to refresh. Stateless and thread-safe.
class OVNoFinderChannel final : public OVFinderRefresher {
 public:
  void refreshFinderFolders(const std::set<std::string>& /*folderIds*/) override {}
};

} // namespace orvex
