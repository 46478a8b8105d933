// Listings of the mounted drive: shares at the root, folders from the store,
// and the names a listing must never show.
#include "Drive/Support/DriveHarness.h"
#include "OVLogger.h"

#include <gmock/gmock.h>

namespace orvex::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class ListingTest : public ::testing::Test {
 protected:
  DriveHarness harness;
};

TEST_F(ListingTest, RootListsSharesInStoreOrderWithoutHiddenOnes) {
  harness.addShare("S3", "Zeta");
  harness.addShare("S1", "Alpha");
  harness.addShare("tmp", ".TempFiles");
  harness.addShare("S2", "Mid");
  ASSERT_TRUE(harness.mount());

  EXPECT_THAT(listFolder(harness.at("/")), ElementsAre("Zeta", "Alpha", "Mid"));
  // `ls -f` keeps the drive's order; -a would show hidden names if any were listed.
  EXPECT_EQ(run("ls -f -a " + harness.at("/")).output, ".\n..\nZeta\nAlpha\nMid\n");
}

TEST_F(ListingTest, FoldersListTheirChildrenButNeverHiddenDeletedOrForeignNames) {
  harness.addShare("S1", "Projects");
  harness.addNode("S1", "D1", "S1", "docs", false);
  harness.addNode("S1", "F1", "D1", "ok.txt");
  harness.addNode("S1", "F2", "D1", "deleted.txt");
  ASSERT_TRUE(harness.db().doUpdateQuery("UPDATE files SET deleted = 1 WHERE internalName = 'F2'"));
  const std::string longName(1000, 'n');
  for (const std::string& name :
       {std::string("Icon\r"), std::string("~$budget.xlsx"), std::string("notes.tmp"), std::string("x.download"),
        std::string(".hidden"), std::string("a:b.txt"), std::string("q?.txt"), longName, std::string(256, 'm')})
    harness.addNode("S1", "X" + std::to_string(name.size()) + name.substr(0, 3), "D1", name);
  ASSERT_TRUE(harness.mount());

  EXPECT_THAT(listFolder(harness.at("/Projects")), ElementsAre("docs"));
  EXPECT_THAT(listFolder(harness.at("/Projects/docs")), ElementsAre("ok.txt"));
  EXPECT_THAT(listFolder(harness.at("/Projects/docs")), ElementsAre("ok.txt"));
  struct stat attributes {};
  EXPECT_EQ(::stat(harness.at("/Projects/docs/deleted.txt").c_str(), &attributes), -1);
  EXPECT_EQ(::stat(harness.at("/Elsewhere").c_str(), &attributes), -1);

  // Names no Linux folder could hold are reported, once however often listed;
  // the service's own rules and the ignore rule drop names silently.
  harness.log.lines(kLogFuse);
  std::vector<std::string> reported;
  for (const std::string& line : harness.log.lines(kLogFuse)) {
    if (line.find("cannot be a file name on this system") != std::string::npos)
      reported.push_back(line);
  }
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_THAT(reported[0] + reported[1], HasSubstr("(1000 bytes)"));
  EXPECT_THAT(reported[0] + reported[1], HasSubstr("(256 bytes)"));
}

} // namespace
} // namespace orvex::test
