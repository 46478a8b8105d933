// Listings and lookups by parent must search idx_parentId or idx_parentAndName,
// and the pending-upload queries idx_status, whatever the statistics looked
// like when the table was small: a plan through idx_deleted or a full scan
// reads every row of a large store each time.
#include "DatabaseTestSupport.h"

#include <gtest/gtest.h>

namespace orvex::test {
namespace {

const std::vector<std::string> kByParent = {"idx_parentId", "idx_parentAndName"};

// The statements that look nodes up by parent.
const std::vector<std::string> kParentStatements = {
    "SELECT * FROM files WHERE parentId = ? AND status != 5 AND isFile AND NOT deleted",
    "SELECT internalName FROM files WHERE parentId = ? AND status != 5 AND NOT deleted",
    "SELECT internalName FROM files WHERE NOT isFile AND parentId = ? AND status != 5 AND NOT deleted",
    "SELECT publicName FROM files WHERE parentId = ? AND status != 5 AND NOT deleted",
    "SELECT COUNT(*) FROM files WHERE parentId = ? AND status != 5",
    "SELECT COUNT(*) FROM files WHERE parentId = ? AND status != 5 AND NOT deleted",
    "SELECT * FROM files WHERE parentId = ? AND publicName = ? AND status != 5 LIMIT 0, 1",
    "SELECT * FROM files WHERE parentId = ? AND publicName = ? AND status = 5 LIMIT 0, 1",
    "SELECT internalName FROM files WHERE parentId = ? AND publicName = ? ORDER BY status DESC LIMIT 0, 1",
    "SELECT internalName FROM files WHERE parentId = ? AND publicName = ? AND status != 5 LIMIT 0, 1",
};

// The pending-upload queries: almost every row is synchronized, so they must
// not scan the table.
const std::vector<std::string> kPendingStatements = {
    "SELECT * FROM files WHERE status = 1 OR status = 2 OR status = 3 ORDER BY deleted DESC, status DESC LIMIT ?, ?",
    "SELECT COUNT(*) FROM files WHERE status = 2 OR status = 1",
    "SELECT SUM(fileSize) FROM files WHERE status = 2 OR status = 1",
    "SELECT DISTINCT parentId FROM files WHERE status == 1 OR status == 2",
};

class QueryPlanTest : public ::testing::Test {
 protected:
  OVDatabase& db() { return *harness.database; }
  // `folders` folders of `perFolder` nodes each below one share; a few deleted.
  void fillTree(int folders, int perFolder, const std::string& prefix) {
    db().doBeginTransaction();
    for (int f = 0; f < folders; ++f) {
      auto folder = makeFile(prefix + std::to_string(f), "S1", "folder" + std::to_string(f), harness.clock);
      folder.isFile = false;
      folder.status = kFileStatusSynchronized;
      insertRow(db(), folder);
      for (int i = 0; i < perFolder; ++i) {
        auto file = makeFile(folder.internalName + "-" + std::to_string(i), folder.internalName,
                             "file" + std::to_string(i), harness.clock);
        file.status = kFileStatusSynchronized;
        file.deleted = i % 50 == 0;
        insertRow(db(), file);
      }
    }
    db().doCommitTransaction();
  }
  void expectPlans(const std::vector<std::string>& statements, const std::vector<std::string>& indexes) {
    for (const auto& sql : statements) {
      auto plan = queryPlan(db().databasePath(), sql);
      EXPECT_TRUE(planSearchesFilesThrough(plan, indexes))
          << sql << "\n  plan: " << (plan.empty() ? "(none)" : plan.front());
    }
  }
  void expectParentIndexes() {
    expectPlans(kParentStatements, kByParent);
    expectPlans(kPendingStatements, {"idx_status"});
  }

  DatabaseHarness harness;
};

TEST_F(QueryPlanTest, NewStoreListsThroughTheParentIndexes) {
  db().load(false);
  expectParentIndexes();
}

TEST_F(QueryPlanTest, StoreMeasuredWhileSmallAndSkewedStillListsThroughTheParentIndexes) {
  db().load(false);
  fillTree(1, 10, "small"); // every node under one folder: the worst figures to keep
  db().unload();
  db().load(false);
  expectParentIndexes();

  fillTree(260, 40, "big"); // grows past what the small figures described, and is measured
  expectParentIndexes();
  db().unload();
  db().load(false);
  expectParentIndexes();
}

TEST_F(QueryPlanTest, LookupsByIdUseTheIdIndexes) {
  db().load(false);
  fillTree(20, 20, "f");
  for (const char* sql :
       {"SELECT * FROM files WHERE internalName = ? AND status != 5 LIMIT 0, 1",
        "SELECT * FROM files WHERE internalName = ? AND status = 5 LIMIT 0, 1",
        "SELECT parentId FROM files WHERE internalName = ? AND status != 5 LIMIT 0, 1",
        "SELECT parentId FROM files WHERE internalName = ? AND status != 5",
        "SELECT * FROM files WHERE shareId = ? AND internalName = ? AND status != 5 AND NOT deleted"}) {
    EXPECT_TRUE(planSearchesFilesThrough(queryPlan(db().databasePath(), sql), {"idx_idandstatus", "idx_internalName"}))
        << sql;
  }
}

} // namespace
} // namespace orvex::test
