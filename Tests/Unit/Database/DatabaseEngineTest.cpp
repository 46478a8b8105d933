// The query engine: one connection on one thread, statements in arrival
// order, and the transaction lock that keeps other threads' updates out.
#include "DatabaseTestSupport.h"
#include "Support/LogCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <thread>

namespace orvex::test {
namespace {

using ::testing::HasSubstr;

class DatabaseEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { db().load(false); }
  OVDatabase& db() { return *harness.database; }
  bool insertNamed(const std::string& id) { return insertRow(db(), makeFile(id, "S1", id, harness.clock)); }
  std::int64_t rowidOf(const std::string& id) {
    return db().queryLong("SELECT rowid FROM files WHERE internalName = ?", {id}).value_or(-1);
  }

  DatabaseHarness harness;
};

TEST_F(DatabaseEngineTest, TransactionKeepsOtherThreadsUpdatesOutButLetsTheirSelectsIn) {
  db().doBeginTransaction();
  ASSERT_TRUE(insertNamed("a0"));

  // Another thread's select runs between the transaction's statements and sees its rows.
  std::optional<std::int64_t> seen;
  std::thread([&] { seen = db().queryLong("SELECT COUNT(*) FROM files"); }).join();
  EXPECT_EQ(seen, 1);

  std::latch started(1);
  std::thread writer([&] {
    started.count_down();
    EXPECT_TRUE(insertNamed("other"));
  });
  started.wait();
  // Plenty of hand-offs to the database thread during which the writer would
  // get in if the lock did not hold it back.
  for (int i = 1; i < 200; ++i) {
    ASSERT_TRUE(insertNamed("a" + std::to_string(i)));
  }
  db().doCommitTransaction();
  writer.join();

  EXPECT_GT(rowidOf("other"), rowidOf("a199"));
}

TEST_F(DatabaseEngineTest, StatementsOfEachThreadRunInTheOrderTheyArrive) {
  constexpr int kThreads = 4;
  constexpr int kRows = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRows; ++i) {
        insertNamed("t" + std::to_string(t) + "-" + std::to_string(i));
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(db().queryLong("SELECT COUNT(*) FROM files"), kThreads * kRows);
  for (int t = 0; t < kThreads; ++t) {
    auto ids = db().queryStrings("SELECT internalName FROM files WHERE internalName LIKE ? ORDER BY rowid",
                                 {"t" + std::to_string(t) + "-%"});
    ASSERT_TRUE(ids);
    std::vector<std::string> expected;
    for (int i = 0; i < kRows; ++i) {
      expected.push_back("t" + std::to_string(t) + "-" + std::to_string(i));
    }
    EXPECT_EQ(*ids, expected);
  }
}

TEST_F(DatabaseEngineTest, FailingStatementsAreLoggedAndAnswerNothing) {
  LogCapture log;
  EXPECT_FALSE(db().queryStrings("SELECT missing FROM nowhere"));
  EXPECT_FALSE(db().doUpdateQuery("DELETE FROM nowhere"));
  auto lines = log.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[0], HasSubstr("Select query SELECT missing FROM nowhere failed: no such table: nowhere"));
  EXPECT_THAT(lines[1], HasSubstr("Update query DELETE FROM nowhere failed: no such table: nowhere"));
}

TEST_F(DatabaseEngineTest, SelectsAnswerNothingWithoutRowsAndEmptyListsForNoRows) {
  EXPECT_FALSE(db().queryString("SELECT internalName FROM files"));
  EXPECT_FALSE(db().queryFile("SELECT * FROM files"));
  EXPECT_FALSE(db().queryLong("SELECT SUM(fileSize) FROM files"));
  auto files = db().queryFiles("SELECT * FROM files");
  ASSERT_TRUE(files);
  EXPECT_TRUE(files->empty());
}

TEST_F(DatabaseEngineTest, ChangingStatementRunThroughTheFilesQueryTakesEffect) {
  insertNamed("n1");
  ASSERT_TRUE(db().queryFiles("UPDATE files SET status = 6 WHERE internalName = ?", {"n1"}));
  EXPECT_EQ(db().queryLong("SELECT status FROM files"), 6);
}

} // namespace
} // namespace orvex::test
