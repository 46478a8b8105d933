// The logger against real files in a temporary folder, with the clock and the
// time zone pinned so that midnight, clock changes and file ages are exact.
#include "OVLogger.h"

#include "Support/TempDir.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <latch>
#include <mutex>
#include <thread>

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::readFile;
using test::TempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

class RecordingSystemLog final : public SystemLog {
 public:
  void report(const std::string& message) override {
    std::lock_guard lock(mutex_);
    reports_.push_back(message);
  }
  std::vector<std::string> reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> reports_;
};

// Calendar time from a UTC date and time of day.
Clock::WallTime utc(int y, unsigned m, unsigned d, std::chrono::milliseconds sinceMidnight = 0ms) {
  using namespace std::chrono;
  return sys_days{year{y} / month{m} / day{d}} + sinceMidnight;
}

std::vector<std::string> linesOf(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::string content = readFile(file);
  std::size_t start = 0;
  for (std::size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(content.substr(start, end - start));
  }
  return lines;
}

// The message part of each line of a log file.
std::vector<std::string> messagesOf(const std::filesystem::path& file) {
  std::vector<std::string> messages;
  for (const auto& line : linesOf(file)) {
    messages.push_back(line.substr(line.find(">: ") + 3));
  }
  return messages;
}

void setModified(const std::filesystem::path& file, Clock::WallTime at) {
  test::writeFile(file, "x");
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
  const timespec times[2] = {{ns / 1000000000, ns % 1000000000}, {ns / 1000000000, ns % 1000000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// Two hours east of UTC, so that local and UTC dates differ around midnight.
class LoggerTest : public ::testing::Test {
 protected:
  LoggerTest() : clock(utc(2026, 12, 6, 12h)), zone(2h), logger(clock, zone, systemLog) {}

  void logAndFlush(unsigned type, const std::string& text) {
    logger.log(type, text);
    logger.flush();
  }
  std::filesystem::path file(const std::string& name) const { return dir / name; }

  TempDir dir;
  ManualClock clock;
  FixedOffsetTimeZone zone;
  RecordingSystemLog systemLog;
  OVLogger logger;
};

TEST_F(LoggerTest, WritesLinesWithThreadUtcStampLatencyAndMessage) {
  clock.setWall(utc(2026, 12, 6, 10h + 11min + 12s + 345ms));
  logger.initLogs(dir.path());

  // Hold the queue so that the line waits 1.5 s between the call and its write.
  std::latch release(1);
  logger.loggerQueue().async([&] { release.wait(); });
  logger.log(kLogMain, fmt::format("Starting up {} version {}", "Orvex", "1.0 (1)"));
  clock.advance(1500ms);
  release.count_down();
  logger.flush();

  EXPECT_THAT(
      linesOf(file("2026-12-06-main.log")),
      ElementsAre(fmt::format("[{}] 2026-12-06T10:11:12.345 <1.500000>: Starting up Orvex version 1.0 (1)", gettid())));
  EXPECT_TRUE(std::filesystem::exists(file("2026-12-06-fuse.log")));
}

TEST_F(LoggerTest, RoutesEachTypeToItsDestination) {
  logger.initLogs(dir.path());
  testing::internal::CaptureStderr();
  logger.log(kLogMain, "main line");
  logger.log(kLogFuse, "fuse line");
  logger.log(kLogDebug, "debug line");
  logger.log(kLogDb, "db line");
  logger.log(7, "other line");
  logger.flush();
  const std::string err = testing::internal::GetCapturedStderr();

  EXPECT_THAT(messagesOf(file("2026-12-06-main.log")), ElementsAre("main line"));
  EXPECT_THAT(messagesOf(file("2026-12-06-fuse.log")), ElementsAre("fuse line"));
  EXPECT_THAT(err, HasSubstr(">: debug line\n"));
  EXPECT_THAT(err, HasSubstr(">: other line\n"));
  // The database log is switched off: its lines go nowhere and no file appears.
  EXPECT_THAT(err, ::testing::Not(HasSubstr("db line")));
  EXPECT_FALSE(std::filesystem::exists(file("2026-12-06-db.log")));
}

TEST_F(LoggerTest, StampIsUtcWhileFileDateIsLocal) {
  // 00:30 local time on 7 December is 22:30 UTC on 6 December.
  clock.setWall(utc(2026, 12, 6, 22h + 30min));
  logger.initLogs(dir.path());
  logAndFlush(kLogMain, "after local midnight");

  EXPECT_THAT(linesOf(file("2026-12-07-main.log")),
              ElementsAre(MatchesRegex(R"(\[[0-9]+\] 2026-12-06T22:30:00\.000 <0\.000000>: after local midnight)")));
}

TEST_F(LoggerTest, RotatesAfterTheFirstLineWrittenPastLocalMidnight) {
  // 23:59:59.999 local time on 6 December.
  clock.setWall(utc(2026, 12, 6, 21h + 59min + 59s + 999ms));
  logger.initLogs(dir.path());
  logAndFlush(kLogMain, "just before midnight");
  clock.advance(1ms);
  logAndFlush(kLogMain, "first after midnight");
  logAndFlush(kLogMain, "second after midnight");
  logAndFlush(kLogFuse, "fuse after midnight");

  EXPECT_THAT(messagesOf(file("2026-12-06-main.log")), ElementsAre("just before midnight", "first after midnight"));
  EXPECT_THAT(messagesOf(file("2026-12-07-main.log")), ElementsAre("second after midnight"));
  EXPECT_THAT(messagesOf(file("2026-12-07-fuse.log")), ElementsAre("fuse after midnight"));
}

TEST_F(LoggerTest, ClockSetBackReopensUnderTheEarlierDateAndAppends) {
  clock.setWall(utc(2026, 12, 7, 8h));
  logger.initLogs(dir.path());
  test::writeFile(file("2026-12-05-main.log"), "kept line\n");

  clock.setWall(utc(2026, 12, 5, 10h));
  logAndFlush(kLogMain, "noticed the change");
  logAndFlush(kLogMain, "on the earlier day");

  EXPECT_THAT(messagesOf(file("2026-12-07-main.log")), ElementsAre("noticed the change"));
  const auto earlier = readFile(file("2026-12-05-main.log"));
  EXPECT_EQ(earlier.substr(0, 10), "kept line\n");
  EXPECT_THAT(earlier, HasSubstr(">: on the earlier day\n"));
}

TEST_F(LoggerTest, OpeningDeletesLogFilesOlderThanFourteenDays) {
  const auto now = clock.wallNow();
  setModified(file("2026-11-21-main.log"), now - 15 * 24h);
  setModified(file("someone-else.log"), now - 15 * 24h);
  setModified(file("2026-11-23-main.log"), now - 13 * 24h);
  setModified(file("notes.txt"), now - 15 * 24h);

  logger.initLogs(dir.path());

  EXPECT_FALSE(std::filesystem::exists(file("2026-11-21-main.log")));
  EXPECT_FALSE(std::filesystem::exists(file("someone-else.log")));
  EXPECT_TRUE(std::filesystem::exists(file("2026-11-23-main.log")));
  EXPECT_TRUE(std::filesystem::exists(file("notes.txt")));

  // Two days later the 13-day-old file is past the cut-off at the next rotation.
  clock.advance(2 * 24h);
  logAndFlush(kLogMain, "two days later");
  EXPECT_FALSE(std::filesystem::exists(file("2026-11-23-main.log")));
  EXPECT_TRUE(std::filesystem::exists(file("notes.txt")));
}

TEST_F(LoggerTest, UnopenableFolderWarnsOncePerFileAndKeepsRunning) {
  std::vector<std::pair<std::string, unsigned>> shown;
  logger.setGUIHandler([&](const std::string& line, unsigned type) { shown.emplace_back(line, type); });
  logger.setLogToGUI(true);

  logger.initLogs(dir / "missing");
  logAndFlush(kLogMain, "still shown in the window");

  EXPECT_THAT(systemLog.reports(), ElementsAre("Warning! Failed to open main log file : error 2",
                                               "Warning! Failed to open fuse log file : error 2"));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_THAT(shown[0].first, HasSubstr(">: still shown in the window\n"));
  EXPECT_EQ(shown[0].second, kLogMain);

  // The next day's opening tries again and warns again.
  clock.advance(24h);
  logAndFlush(kLogMain, "next day");
  EXPECT_EQ(systemLog.reports().size(), 4u);
}

TEST_F(LoggerTest, HandsLinesToTheWindowOnlyOnceAsked) {
  logger.initLogs(dir.path());
  std::vector<std::string> shown;
  logger.setGUIHandler([&](const std::string& line, unsigned) { shown.push_back(line); });
  logAndFlush(kLogMain, "before the window opened");
  logger.setLogToGUI(true);
  logAndFlush(kLogFuse, "after the window opened");

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_THAT(shown[0], HasSubstr(">: after the window opened\n"));
}

TEST_F(LoggerTest, LinesLoggedBeforeTheFolderIsKnownAreWrittenFirst) {
  logger.log(kLogMain, "Warning! settings file unreadable");
  logger.log(kLogFuse, "early fuse line");
  logger.flush();
  logger.initLogs(dir.path());
  logAndFlush(kLogMain, "after opening");

  EXPECT_THAT(messagesOf(file("2026-12-06-main.log")),
              ElementsAre("Warning! settings file unreadable", "after opening"));
  EXPECT_THAT(messagesOf(file("2026-12-06-fuse.log")), ElementsAre("early fuse line"));
}

TEST_F(LoggerTest, KeepsEachThreadsLinesInOrderAndWhole) {
  logger.initLogs(dir.path());
  constexpr int kThreads = 4;
  constexpr int kLines = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        logger.log(kLogMain, fmt::format("thread {} line {}", t, i));
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  logger.flush();

  std::vector<int> next(kThreads, 0);
  const auto messages = messagesOf(file("2026-12-06-main.log"));
  ASSERT_EQ(messages.size(), static_cast<std::size_t>(kThreads * kLines));
  for (const auto& message : messages) {
    int t = -1;
    int i = -1;
    ASSERT_EQ(std::sscanf(message.c_str(), "thread %d line %d", &t, &i), 2) << message;
    EXPECT_EQ(i, next[t]++);
  }
}

TEST_F(LoggerTest, ClosedFilesDropLinesUntilReopened) {
  logger.initLogs(dir.path());
  logger.flush();
  logger.close();
  logAndFlush(kLogMain, "dropped");
  logger.openLogs();
  logAndFlush(kLogMain, "written");

  EXPECT_THAT(messagesOf(file("2026-12-06-main.log")), ElementsAre("written"));
}

} // namespace
} // namespace orvex
