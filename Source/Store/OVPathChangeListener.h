// What the metadata store tells whoever shows its tree: which drive paths
// now name something else (new, changed, moved away or gone), once the
// change is committed, so that a cached view of them can be dropped.
#pragma once

#include <string>
#include <vector>

namespace orvex {

// Called on the thread that changed the store, after its commit and outside
// every lock of the store. Implementations hand the work to their own queue:
// whatever they do may wait for a reader of the store.
class OVPathChangeListener {
 public:
  OVPathChangeListener() = default;
  OVPathChangeListener(const OVPathChangeListener&) = delete;
  OVPathChangeListener& operator=(const OVPathChangeListener&) = delete;
  virtual ~OVPathChangeListener() = default;

  // Drive paths ("/Share/folder/name"), each changed node's own (before and
  // after the change) and those of the folders it left or entered.
  virtual void pathsChanged(std::vector<std::string> paths) = 0;
};

// The truth while no drive is mounted: nothing holds a view of the tree.
// Stateless and thread-safe.
class OVNoMountedDrive final : public OVPathChangeListener {
 public:
  void pathsChanged(std::vector<std::string> /*paths*/) override {}
};

} // namespace orvex
