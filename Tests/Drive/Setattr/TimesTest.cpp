// Setting a file's times on the mounted drive the way programs do it: touch(1)
// with each of its choices, which reach the drive as utimensat(2) with
// UTIME_NOW and UTIME_OMIT. Whatever is not asked for must stay as it was.
#include "Drive/Support/DriveHarness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <iterator>
#include <optional>
#include <string>

namespace orvex::test {
namespace {

constexpr double kStoredModified = 1000000000.25;
constexpr double kStoredAccessed = 1100000000.75;
constexpr double kGiven = 1234567890.5; // what `-d @1234567890.5` asks for

double seconds(const timespec& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

class TimesTest : public ::testing::Test {
 protected:
  TimesTest() : harness(DriveHarness::servedBy(content)) { content.setCache(harness.store.fileCache); }
  void SetUp() override { harness.addShare("S1", "Docs"); }

  // A file whose content is whole in the cache, with known times.
  void addTimedFile(const std::string& id) {
    OVFile node = makeFile(id, "S1", id, harness.store.clock);
    node.fileSize = 5;
    node.status = kFileStatusSynchronized;
    node.permissions = kDefaultFilePermissions;
    node.modifyTime = dateFromSecondsSince1970(kStoredModified);
    node.accessTime = dateFromSecondsSince1970(kStoredAccessed);
    harness.write(node);
    const std::string bytes = FakeContent::contentOf(id, 0, 5);
    harness.store.fileCache.addChunk({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, 0, 5, node);
  }
  double now() const { return secondsSince1970(OVDate(harness.store.clock.wallNow())); }

  FakeContent content;
  DriveHarness harness;
};

TEST_F(TimesTest, TouchSetsTheTimesItIsAskedForAndKeepsTheOther) {
  struct Case {
    const char* options;
    std::optional<double> accessed; // nothing: the stored time stays
    std::optional<double> modified;
  };
  const Case cases[] = {
      {"-m", std::nullopt, now()},
      {"-a", now(), std::nullopt},
      {"", now(), now()},
      {"-d @1234567890.5", kGiven, kGiven},
      {"-m -d @1234567890.5", std::nullopt, kGiven},
      {"-a -d @1234567890.5", kGiven, std::nullopt},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    addTimedFile("F" + std::to_string(i));
  ASSERT_TRUE(harness.mount());

  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::string("touch ") + c.options);
    const std::string id = "F" + std::to_string(i);
    const CommandResult touched = run(std::string("touch ") + c.options + " '" + harness.at("/Docs/" + id) + "'");
    ASSERT_EQ(touched.status, 0) << touched.output;

    const double accessed = c.accessed.value_or(kStoredAccessed);
    const double modified = c.modified.value_or(kStoredModified);
    struct stat shown {};
    ASSERT_EQ(::stat(harness.at("/Docs/" + id).c_str(), &shown), 0) << errno;
    EXPECT_NEAR(seconds(shown.st_atim), accessed, 1e-6);
    EXPECT_NEAR(seconds(shown.st_mtim), modified, 1e-6);
    const auto stored = harness.db().fileWithId(id, false);
    ASSERT_TRUE(stored);
    EXPECT_NEAR(secondsSince1970(stored->accessTime), accessed, 1e-6);
    EXPECT_NEAR(secondsSince1970(stored->modifyTime), modified, 1e-6);
  }
}

} // namespace
} // namespace orvex::test
