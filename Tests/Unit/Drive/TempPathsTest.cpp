// Save-folder redirection and the listing's name rules.
#include "Drive/OVListingNames.h"
#include "Drive/OVTempPaths.h"

#include <gtest/gtest.h>

#include <map>

namespace orvex {
namespace {

TEST(TempPathsTest, ScratchFolderNames) {
  for (const char* name : {"Report.docx.sb-5a3e", "A Document Being Saved By TextEdit", "setup.download", "x.sb-"})
    EXPECT_TRUE(isTempFolder(name)) << name;
  for (const char* name : {"Report.docx", "download", ".download", "sb-1", "a.downloads"})
    EXPECT_FALSE(isTempFolder(name)) << name;

  EXPECT_TRUE(isTempFile("/.TempFiles/a"));
  EXPECT_TRUE(isTempFile("/.TempFiles"));
  EXPECT_FALSE(isTempFile("/S/.TempFiles/a"));
  EXPECT_FALSE(isTempFile("/.TempFilesX/a"));
  EXPECT_FALSE(isTempFile("/"));
}

TEST(TempPathsTest, KeyRunsFromTheFirstScratchFolder) {
  EXPECT_EQ(keyFromPath("/S/Docs/Report.docx.sb-5a3e/inner"), "Report.docx.sb-5a3e/inner");
  EXPECT_EQ(keyFromPath("/S/a.download/b.sb-1/c"), "a.download/b.sb-1/c");
  EXPECT_EQ(keyFromPath("/S/Docs/plain.txt"), "");
  EXPECT_EQ(keyFromPath("/"), "");
}

TEST(TempPathsTest, FinalPathFollowsTheFolderAndItsDirectChildren) {
  const std::map<std::string, std::string> archive = {
      {"Report.docx.sb-5a3e", "/.TempFiles/Report.docx.sb-5a3e"},
      {"Report.docx.sb-5a3e/moved", "/.TempFiles/elsewhere"},
  };
  const ArchiveLookup lookup = [&](const std::string& key) -> std::optional<std::string> {
    auto found = archive.find(key);
    return found == archive.end() ? std::nullopt : std::optional(found->second);
  };
  EXPECT_EQ(finalPath("/S/Docs/Report.docx.sb-5a3e", lookup), "/.TempFiles/Report.docx.sb-5a3e");
  EXPECT_EQ(finalPath("/S/Docs/Report.docx.sb-5a3e/inner", lookup), "/.TempFiles/Report.docx.sb-5a3e/inner");
  // An entry of its own wins over the parent's.
  EXPECT_EQ(finalPath("/S/Docs/Report.docx.sb-5a3e/moved", lookup), "/.TempFiles/elsewhere");
  // Only one level below a redirected folder is followed.
  EXPECT_EQ(finalPath("/S/Docs/Report.docx.sb-5a3e/a/b", lookup), "/S/Docs/Report.docx.sb-5a3e/a/b");
  EXPECT_EQ(finalPath("/S/Docs/plain.txt", lookup), "/S/Docs/plain.txt");
  EXPECT_EQ(finalPath("/", lookup), "/");
  // Nothing is asked for paths without a scratch folder.
  const ArchiveLookup refusing = [](const std::string& key) -> std::optional<std::string> {
    ADD_FAILURE() << "asked for " << key;
    return std::nullopt;
  };
  EXPECT_EQ(finalPath("/S/a/b", refusing), "/S/a/b");
}

TEST(TempPathsTest, ListingVerdicts) {
  EXPECT_EQ(folderEntryVerdict("ok.txt"), OVListingVerdict::listed);
  EXPECT_EQ(folderEntryVerdict(std::string(255, 'a')), OVListingVerdict::listed);
  EXPECT_EQ(folderEntryVerdict(std::string(256, 'a')), OVListingVerdict::notALinuxName);
  EXPECT_EQ(folderEntryVerdict("a/b"), OVListingVerdict::notALinuxName);
  EXPECT_EQ(folderEntryVerdict(std::string("a\0b", 3)), OVListingVerdict::notALinuxName);
  EXPECT_EQ(folderEntryVerdict("a:b"), OVListingVerdict::invalidCharacters);
  EXPECT_EQ(folderEntryVerdict(".."), OVListingVerdict::ignored);
  EXPECT_EQ(folderEntryVerdict(""), OVListingVerdict::ignored);
  // Share names follow no service character rule, but stay Linux names.
  EXPECT_EQ(shareEntryVerdict("Q&A: 2024"), OVListingVerdict::listed);
  EXPECT_EQ(shareEntryVerdict("a/b"), OVListingVerdict::notALinuxName);
  EXPECT_EQ(shareEntryVerdict(".TempFiles"), OVListingVerdict::ignored);
}

} // namespace
} // namespace orvex
