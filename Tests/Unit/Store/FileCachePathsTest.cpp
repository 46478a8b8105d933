// The application folders and the places of cached contents.
#include "Store/OVFileCache.h"

#include "Support/TempDir.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

TEST(FileCacheFolders, CreatesRootAndItsFourFoldersWithIntermediates) {
  TempDir dir;
  const OVFileCache cache(dir / "share/Orvex");

  EXPECT_EQ(cache.rootCachePath(), dir / "share/Orvex");
  EXPECT_EQ(cache.metadataPath(), cache.rootCachePath());
  for (const auto& folder :
       {cache.filesCachePath(), cache.uploadsCachePath(), cache.downloadsCachePath(), cache.logsPath()}) {
    EXPECT_TRUE(fs::is_directory(folder)) << folder;
    EXPECT_EQ(folder.parent_path(), cache.rootCachePath());
  }
  EXPECT_EQ(cache.logsPath().filename(), "Logs");
}

TEST(FileCacheFolders, KeepsWhatExistingFoldersHold) {
  TempDir dir;
  fs::create_directories(dir / "Orvex/Files/share1");
  test::writeFile(dir / "Orvex/Files/share1/node", "content");

  const OVFileCache cache(dir / "Orvex");
  EXPECT_EQ(test::readFile(dir / "Orvex/Files/share1/node"), "content");
}

TEST(FileCacheFolders, RootLiesInTheXdgDataFolderNamedAfterTheTitle) {
  auto env = [](std::optional<std::string> dataHome) {
    XdgEnvironment e;
    e.variable = [dataHome](const std::string& name) -> std::optional<std::string> {
      if (name == "HOME") {
        return "/home/ann";
      }
      return name == "XDG_DATA_HOME" ? dataHome : std::nullopt;
    };
    e.passwdHome = [] { return std::nullopt; };
    return e;
  };
  EXPECT_EQ(OVFileCache::defaultRootPath("Orvex", env("/data")), "/data/Orvex");
  EXPECT_EQ(OVFileCache::defaultRootPath("OrvexBeta", env(std::nullopt)), "/home/ann/.local/share/OrvexBeta");
}

TEST(FileCacheFoldersDeathTest, FileInPlaceOfAFolderEndsTheProcessWithCode100) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  fs::create_directories(dir / "Orvex");
  test::writeFile(dir / "Orvex/Downloads", "not a folder");

  EXPECT_EXIT(OVFileCache{dir / "Orvex"}, ::testing::ExitedWithCode(100),
              "Error! Unknown file exists at cache directory location : .*/Orvex/Downloads");
  EXPECT_EQ(test::readFile(dir / "Orvex/Downloads"), "not a folder");
}

TEST(FileCacheFoldersDeathTest, UncreatableRootEndsTheProcessWithCode100) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  test::writeFile(dir / "blocker", "a file where a folder is needed");

  EXPECT_EXIT(OVFileCache{dir / "blocker/Orvex"}, ::testing::ExitedWithCode(100),
              "Error! Cannot create cache directory at path : .*/blocker/Orvex, error : Not a directory");
}

class FileCachePaths : public ::testing::Test {
 protected:
  TempDir dir;
  OVFileCache cache{dir / "Orvex"};
};

TEST_F(FileCachePaths, NodePathsLieInTheShareFolderWhichAskingCreates) {
  const auto file = cache.pathForFileCacheWithShareId("share-1", "0123456789abcdef0123456789abcdef");
  ASSERT_TRUE(file);
  EXPECT_EQ(*file, cache.filesCachePath() / "share-1/0123456789abcdef0123456789abcdef");
  EXPECT_TRUE(fs::is_directory(cache.filesCachePath() / "share-1"));

  EXPECT_EQ(cache.pathForFileExtAttrsWithShareId("share-2", "abc"), cache.filesCachePath() / "share-2/abc.attrs");
  EXPECT_TRUE(fs::is_directory(cache.filesCachePath() / "share-2"));
  EXPECT_EQ(cache.pathForShareCache("share-3"), cache.filesCachePath() / "share-3");
  EXPECT_EQ(cache.pathForShareExtAttrs("share-3"), cache.filesCachePath() / "share-3.attrs");
  EXPECT_EQ(cache.pathForFileDownload("abc"), cache.downloadsCachePath() / "abc");
}

TEST_F(FileCachePaths, RefusesIdsThatCouldLeaveTheirFolder) {
  for (const std::string& bad :
       std::vector<std::string>{"", ".", "..", "../x", "a/b", std::string("a\0b", 3), std::string(250, 'a')}) {
    EXPECT_FALSE(cache.pathForShareCache(bad)) << bad;
    EXPECT_FALSE(cache.pathForShareExtAttrs(bad)) << bad;
    EXPECT_FALSE(cache.pathForFileDownload(bad)) << bad;
    EXPECT_FALSE(cache.pathForFileCacheWithShareId("share", bad)) << bad;
    EXPECT_FALSE(cache.pathForFileCacheWithShareId(bad, "node")) << bad;
    EXPECT_FALSE(cache.pathForFileExtAttrsWithShareId(bad, "node")) << bad;
  }
  EXPECT_TRUE(cache.pathForFileDownload(std::string(249, 'a')));
  EXPECT_FALSE(fs::exists(dir / "x"));
}

} // namespace
} // namespace orvex
