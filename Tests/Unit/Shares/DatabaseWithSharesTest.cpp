// The database over the real share store: the temporary-files share, which the
// store always keeps, must not make an account without shares look non-empty
// (termination skips saving an empty store).
#include "ShareStoreTestSupport.h"
#include "Store/OVDatabase.h"
#include "Store/OVFileCacheEraser.h"

#include <gtest/gtest.h>

namespace orvex::test {
namespace {

class DatabaseWithShares : public ShareStoreTest {
 protected:
  OVFileCacheEraser eraser{cache};
};

TEST_F(DatabaseWithShares, StoreWithOnlyTheTemporaryFilesShareCountsAsEmpty) {
  OVDatabase db(cache, *store, eraser, "1.0.0", clock);
  db.load(false);
  ASSERT_TRUE(store->shareWithId("tmp"));
  EXPECT_TRUE(db.isEmpty());

  db.updateShares(profileWith({makeShare("s1", "Docs")}), "orvex.example");
  EXPECT_FALSE(db.isEmpty());
  db.unload();

  // After a restart the saved share is known again.
  auto restarted = reopen();
  OVDatabase again(cache, *restarted, eraser, "1.0.0", clock);
  again.load(false);
  EXPECT_FALSE(again.isEmpty());
  again.unload();
}

} // namespace
} // namespace orvex::test
