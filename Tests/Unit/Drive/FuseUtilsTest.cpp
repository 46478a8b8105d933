#include "Drive/OVFuseUtils.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace orvex {
namespace {

TEST(FuseUtilsTest, MountPathExpandsTildeOrFallsBackToTitleInHome) {
  EXPECT_EQ(OVFuseUtils::mountPath(std::nullopt, "/home/ann", "Orvex"), "/home/ann/Orvex");
  EXPECT_EQ(OVFuseUtils::mountPath(std::string("~/Drives/Work"), "/home/ann", "Orvex"), "/home/ann/Drives/Work");
  EXPECT_EQ(OVFuseUtils::mountPath(std::string("~"), "/home/ann/", "Orvex"), "/home/ann");
  EXPECT_EQ(OVFuseUtils::mountPath(std::string("/mnt/orvex/"), "/home/ann", "Orvex"), "/mnt/orvex");
  // Values that would not name one absolute place fall back to the default.
  for (const char* bad : {"", "relative/dir", "~bob/Drive"})
    EXPECT_EQ(OVFuseUtils::mountPath(std::string(bad), "/home/ann", "Orvex"), "/home/ann/Orvex") << bad;
  EXPECT_EQ(OVFuseUtils::mountPath(std::string("/mnt/a\0b", 8), "/home/ann", "Orvex"), "/home/ann/Orvex");
}

TEST(FuseUtilsTest, RootAndShareLevels) {
  EXPECT_TRUE(OVFuseUtils::isRootPath(std::nullopt));
  EXPECT_TRUE(OVFuseUtils::isRootPath("/"));
  EXPECT_FALSE(OVFuseUtils::isRootPath(""));
  EXPECT_FALSE(OVFuseUtils::isRootPath("//"));

  for (const char* share : {"/", "/a", "/a/", "/Projects 2024", "/ab/"})
    EXPECT_TRUE(OVFuseUtils::isSharePath(share)) << share;
  for (const char* item : {"/a/b", "/a/b/", "//a", "/a//"})
    EXPECT_FALSE(OVFuseUtils::isSharePath(item)) << item;
}

TEST(FuseUtilsTest, IgnoreRuleLooksAtTheLastComponent) {
  for (const char* ignored : {"", ".", "/S/Report.docx.sb-5a3e/inner", "/S/Icon\r", "/S/~$budget.xlsx", "/S/notes.tmp",
                              "/S/x.download", "/S/.hidden", "/S/.fuselock", "/S/dir/.DS_Store/"})
    EXPECT_TRUE(OVFuseUtils::isPathIgnored(ignored, false)) << ignored;
  EXPECT_TRUE(OVFuseUtils::isPathIgnored(std::nullopt, true));

  // Only the last component counts, and only in the listed ways.
  for (const char* kept : {"/", "/S", "/.S/a", "/S/~dir/a", "/S/Icon", "/S/Icon\r2", "/S/a.tmpl", "/S/download",
                           "/S/x.downloads", "/S/a.tmp/b", "/S/a~"})
    EXPECT_FALSE(OVFuseUtils::isPathIgnored(kept, false)) << kept;
  EXPECT_EQ(OVFuseUtils::isPathIgnored("/S/a.tmp", true), OVFuseUtils::isPathIgnored("/S/a.tmp", false));
}

TEST(FuseUtilsTest, AbsoluteAndVolumePaths) {
  const std::string mount = "/home/ann/Orvex";
  EXPECT_EQ(OVFuseUtils::fullPathToRelative("/home/ann/Orvex/Share/a.txt", mount), "/Share/a.txt");
  EXPECT_EQ(OVFuseUtils::fullPathToRelative("/HOME/Ann/orvex/Share", mount), "/Share");
  EXPECT_EQ(OVFuseUtils::fullPathToRelative("/home/ann/Orvex", mount), "");
  EXPECT_EQ(OVFuseUtils::fullPathToRelative("/home/ann/OrvexOld/Share", mount), std::nullopt);
  EXPECT_EQ(OVFuseUtils::fullPathToRelative("/home/ann", mount), std::nullopt);
  EXPECT_EQ(OVFuseUtils::fullPathToRelative("/tmp/x", mount), std::nullopt);
  EXPECT_EQ(OVFuseUtils::fullPathToRelative("/tmp/x", ""), std::nullopt);
  // Case folding beyond ASCII; the cut is made in the original text.
  EXPECT_EQ(OVFuseUtils::fullPathToRelative("/HOME/ÄRGER/Ø/É", "/home/ärger/ø"), "/É");

  EXPECT_EQ(OVFuseUtils::relativePathToFull("/Share/a.txt", mount), "/home/ann/Orvex/Share/a.txt");
  EXPECT_EQ(OVFuseUtils::relativePathToFull("/", mount), mount);
  EXPECT_EQ(OVFuseUtils::relativePathToFull("Share", mount + "/"), "/home/ann/Orvex/Share");
  EXPECT_EQ(OVFuseUtils::relativePathToFull("/Share/../../.ssh", mount), std::nullopt);
  EXPECT_EQ(OVFuseUtils::relativePathToFull("/..", mount), std::nullopt);
  EXPECT_EQ(OVFuseUtils::relativePathToFull(std::string("/a\0b", 4), mount), std::nullopt);
  EXPECT_EQ(OVFuseUtils::relativePathToFull("/a..b/..c", mount), "/home/ann/Orvex/a..b/..c");
}

TEST(FuseUtilsTest, NameParts) {
  EXPECT_EQ(OVFuseUtils::filenameFromPath("/S/a/report.final.txt"), "report.final");
  EXPECT_EQ(OVFuseUtils::filenameFromPath("/S/a/"), "a");
  EXPECT_EQ(OVFuseUtils::filenameFromPath("/S/.hidden"), ".hidden");
  EXPECT_EQ(OVFuseUtils::filenameFromPath("/S/a."), "a");

  EXPECT_EQ(OVFuseUtils::pathExtension("/S.d/x"), "");

  EXPECT_EQ(OVFuseUtils::parentPath("/S/a/b"), "/S/a");
  EXPECT_EQ(OVFuseUtils::parentPath("/S/a/"), "/S");
  EXPECT_EQ(OVFuseUtils::parentPath("/S"), "/");
  EXPECT_EQ(OVFuseUtils::parentPath("/"), "/");
}

TEST(FuseUtilsTest, InvalidCharacters) {
  EXPECT_FALSE(OVFuseUtils::containsInvalidCharacters("plain name (1).txt"));
  for (char c : kInvalidChars)
    EXPECT_TRUE(OVFuseUtils::containsInvalidCharacters(std::string("a") + c + "b")) << c;
  EXPECT_EQ(OVFuseUtils::fixInvalidCharacters("a\\b/c:d?e*f\"g<h>i|j"), "a_b_c_d_e_f_g_h_i_j");
  EXPECT_EQ(OVFuseUtils::fixInvalidCharacters("Grüße"), "Grüße");
}

TEST(FuseUtilsTest, FolderContainment) {
  EXPECT_TRUE(OVFuseUtils::isPath("/S/a", "/S/a"));
  EXPECT_TRUE(OVFuseUtils::isPath("/S/a", "/S/a/b"));
  EXPECT_FALSE(OVFuseUtils::isPath("/S/a", "/S/ab"));
  EXPECT_FALSE(OVFuseUtils::isPath("/S/a/b", "/S/a"));
  EXPECT_FALSE(OVFuseUtils::isPath(std::nullopt, "/S/a"));
  EXPECT_FALSE(OVFuseUtils::isPath("", "/S/a"));
}

} // namespace
} // namespace orvex
