// A loaded database in a temporary folder with one ordinary share, "Projects"
// (id S1), and helpers that write nodes and shares.
#pragma once

#include "Support/LogCapture.h"
#include "Unit/Database/DatabaseTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace orvex::test {

class TreeFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    harness.shareStore.addShare(share("S1", "Projects"));
    db().load(false);
  }

  OVDatabase& db() { return *harness.database; }

  static ManagedShare share(const std::string& id, const std::string& name) {
    ManagedShare share;
    share.ShareId = id;
    share.DisplayName = name;
    return share;
  }
  // A folder of share `parentShareId` shared on its own: `folderId` is its root.
  static ManagedShare folderShare(const std::string& id, const std::string& name, const std::string& parentShareId,
                                  const std::string& folderId) {
    ManagedShare share = TreeFixture::share(id, name);
    share.ShareType = 1;
    share.ParentShareId = parentShareId;
    share.InternalName = folderId;
    return share;
  }

  // Writes one node (synchronized unless told) and answers it.
  OVFile node(const std::string& id, const std::string& parent, const std::string& name, bool isFile = true,
              std::uint64_t status = kFileStatusSynchronized) {
    OVFile file = makeFile(id, parent, name, harness.clock);
    file.isFile = isFile;
    file.status = status;
    EXPECT_TRUE(insertRow(db(), file)) << id;
    return file;
  }
  OVFile folder(const std::string& id, const std::string& parent, const std::string& name) {
    return node(id, parent, name, false);
  }
  // A node received through folder share `shareId` of the share S1.
  OVFile sharedNode(const std::string& id, const std::string& parent, const std::string& name,
                    const std::string& shareId, bool isFile = true) {
    OVFile file = makeFile(id, parent, name, harness.clock);
    file.shareId = shareId;
    file.parentShareId = "S1";
    file.isFile = isFile;
    file.status = kFileStatusSynchronized;
    EXPECT_TRUE(insertRow(db(), file)) << id;
    return file;
  }
  std::string idAt(const std::string& path) {
    auto file = db().fileWithPath(path);
    return file ? file->internalName : "(nothing)";
  }

  LogCapture log; // first: outlives the database's last lines
  DatabaseHarness harness;
};

} // namespace orvex::test
