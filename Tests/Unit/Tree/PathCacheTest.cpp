// The clearing rules of the two path caches: which entries each operation
// drops from the normal and the shadow map.
#include "Store/OVPathCache.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

class PathCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* path : {"/S/a", "/S/ab", "/S/abc", "/S/ab/x", "/S/b"}) {
      cache.cacheItem(std::string("id") + path, path, false);
      cache.cacheItem(std::string("shadow") + path, path, true);
    }
  }
  bool cachedAnywhere(const char* path) { return cache.cachedItem(path, false) || cache.cachedItem(path, true); }
  bool cachedInBoth(const char* path) { return cache.cachedItem(path, false) && cache.cachedItem(path, true); }

  OVPathCache cache;
};

TEST_F(PathCacheTest, ClearingOnePathDropsItFromBothMapsAndNothingElse) {
  cache.clearSingle("/S/ab");
  EXPECT_FALSE(cachedAnywhere("/S/ab"));
  for (const char* kept : {"/S/a", "/S/abc", "/S/ab/x"})
    EXPECT_TRUE(cachedInBoth(kept)) << kept;
  cache.clearSingle("/S/unknown"); // no effect, no failure
}

TEST_F(PathCacheTest, PrefixClearingIsPlainText) {
  cache.clearPrefix("/S/ab");
  for (const char* gone : {"/S/ab", "/S/abc", "/S/ab/x"})
    EXPECT_FALSE(cachedAnywhere(gone)) << gone;
  EXPECT_TRUE(cachedInBoth("/S/a"));
  EXPECT_TRUE(cachedInBoth("/S/b"));
}

TEST_F(PathCacheTest, EmptyPrefixClearsNothing) {
  cache.clearPrefix("");
  EXPECT_TRUE(cachedInBoth("/S/a"));
}

TEST_F(PathCacheTest, ClearingAnIdDropsItsPathAsPrefixFromBothMaps) {
  cache.cacheItem("X", "/T/x", true); // only in the shadow map
  cache.clearForId("id/S/ab");
  for (const char* gone : {"/S/ab", "/S/abc", "/S/ab/x"})
    EXPECT_FALSE(cachedAnywhere(gone)) << gone;
  EXPECT_TRUE(cachedInBoth("/S/a"));

  cache.clearForId("X");
  EXPECT_FALSE(cachedAnywhere("/T/x"));
  cache.clearForId("never cached");
  EXPECT_TRUE(cachedInBoth("/S/b"));
}

} // namespace
} // namespace orvex
