#include "Dispatch/Clock.h"
#include "Dispatch/SerialQueue.h"
#include "Dispatch/ThreadName.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace orvex {
namespace {

using std::chrono::seconds;

TEST(SerialQueueTest, KeepsEachPosterOrderUnderManyPostingThreads) {
  constexpr int kThreads = 8;
  constexpr int kJobsEach = 500;
  SerialQueue queue("com.orvex.test.ordering");
  std::vector<std::pair<int, int>> seen; // touched on the queue's thread only
  std::latch go(kThreads);
  std::vector<std::thread> posters;
  posters.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      go.arrive_and_wait();
      for (int i = 0; i < kJobsEach; ++i) {
        queue.async([&seen, t, i] { seen.emplace_back(t, i); });
      }
    });
  }
  for (auto& poster : posters) {
    poster.join();
  }
  const auto result = queue.sync([&] { return seen; });
  ASSERT_EQ(result.size(), static_cast<std::size_t>(kThreads) * kJobsEach);
  std::vector<int> next(kThreads, 0);
  for (const auto& [t, i] : result) {
    ASSERT_EQ(i, next[t]) << "poster " << t;
    ++next[t];
  }
}

// Regression: a job posted just as the idle worker stopped watching for work
// (before it went to sleep) was never run, and the sync caller waited forever.
// Pauses of varying length between round trips make posts land around the end
// of the worker's watch; with the fault this hung within a few thousand trips.
TEST(SerialQueueTest, SyncRoundTripsNeverStallAroundTheIdleWatch) {
  SerialQueue queue("com.orvex.test.roundtrips");
  std::vector<std::thread> callers;
  std::atomic<int> answered{0};
  for (int t = 0; t < 2; ++t) {
    callers.emplace_back([&, t] {
      for (int i = 0; i < 3000; ++i) {
        const auto pause = std::chrono::microseconds((i * 7 + t * 13) % 90);
        const auto until = std::chrono::steady_clock::now() + pause;
        while (std::chrono::steady_clock::now() < until) {
        }
        answered += queue.sync([i] { return i >= 0 ? 1 : 0; });
      }
    });
  }
  for (auto& caller : callers) {
    caller.join();
  }
  EXPECT_EQ(answered.load(), 6000);
}

TEST(SerialQueueTest, JobsRunOnTheNamedQueueThread) {
  SerialQueue queue("com.orvex.clouddrive-osx.databaseThread");
  EXPECT_FALSE(queue.isCurrent());
  const auto [current, label] = queue.sync([&] { return std::pair(queue.isCurrent(), currentThreadLabel()); });
  EXPECT_TRUE(current);
  EXPECT_EQ(label, "com.orvex.clouddrive-osx.databaseThread");
  EXPECT_EQ(kernelThreadName(label), "databaseThread");
  EXPECT_EQ(kernelThreadName("com.orvex.clouddrive-osx.fullProfile-response"), "fullProfile-res");
}

TEST(SerialQueueTest, SyncFromItsOwnJobRunsInline) {
  SerialQueue queue("com.orvex.test.reentrant");
  std::promise<int> result;
  queue.async([&] { result.set_value(queue.sync([] { return 7; }) + 1); });
  EXPECT_EQ(result.get_future().get(), 8);
}

TEST(SerialQueueTest, SyncFromOtherThreadsReturnsValuesAndRethrows) {
  SerialQueue queue("com.orvex.test.sync");
  constexpr int kCallers = 6;
  std::vector<int> results(kCallers, -1);
  std::latch go(kCallers);
  std::vector<std::thread> callers;
  callers.reserve(kCallers);
  for (int c = 0; c < kCallers; ++c) {
    callers.emplace_back([&, c] {
      go.arrive_and_wait();
      results[c] = queue.sync([c] { return c * c; });
    });
  }
  for (auto& caller : callers) {
    caller.join();
  }
  for (int c = 0; c < kCallers; ++c) {
    EXPECT_EQ(results[c], c * c);
  }
  auto moved = queue.sync([] { return std::make_unique<std::string>("move-only"); });
  EXPECT_EQ(*moved, "move-only");
  EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("bad row"); }), std::runtime_error);
  EXPECT_EQ(queue.sync([] { return 1; }), 1) << "the queue survives a throwing sync job";
}

class SerialQueueTimerTest : public ::testing::Test {
 protected:
  // After this round trip the worker has seen every advance made before it;
  // jobs it found due then may still be queued behind the round trip.
  void settle() {
    queue.sync([] {});
  }
  std::vector<std::string> ran() {
    return queue.sync([this] { return log; });
  }

  ManualClock clock;
  SerialQueue queue{"com.orvex.test.timers", clock};
  std::vector<std::string> log; // queue thread only
};

TEST_F(SerialQueueTimerTest, RunsOnlyOnceTheDeadlinePassed) {
  queue.after(seconds(5), [this] { log.push_back("due"); });
  clock.advance(seconds(4) + std::chrono::milliseconds(999));
  settle();
  EXPECT_TRUE(ran().empty());
  clock.advance(std::chrono::milliseconds(1));
  settle();
  EXPECT_EQ(ran(), std::vector<std::string>{"due"});
}

TEST_F(SerialQueueTimerTest, CancelBeforeTheDeadlinePreventsTheJob) {
  auto handle = queue.after(seconds(5), [this] { log.push_back("cancelled"); });
  queue.after(seconds(5), [this] { log.push_back("kept"); });
  handle.cancel();
  clock.advance(seconds(10));
  settle();
  EXPECT_EQ(ran(), std::vector<std::string>{"kept"});
}

TEST_F(SerialQueueTimerTest, CancelAfterTheDeadlineButBeforeTheStartPreventsTheJob) {
  std::latch started(1);
  std::latch release(1);
  queue.async([&] {
    started.count_down();
    release.wait();
  });
  started.wait();
  auto handle = queue.after(seconds(1), [this] { log.push_back("late"); });
  clock.advance(seconds(2)); // due while the worker is busy
  handle.cancel();
  release.count_down();
  settle();
  EXPECT_TRUE(ran().empty());
}

TEST_F(SerialQueueTimerTest, EqualDeadlinesKeepPostingOrder) {
  queue.after(seconds(5), [this] { log.push_back("a"); });
  queue.after(seconds(5), [this] { log.push_back("b"); });
  queue.after(seconds(3), [this] { log.push_back("c"); });
  queue.after(seconds(5), [this] { log.push_back("d"); });
  clock.advance(seconds(5));
  settle();
  EXPECT_EQ(ran(), (std::vector<std::string>{"c", "a", "b", "d"}));
}

TEST(SerialQueueShutdownTest, DestructionRunsPostedJobsAndDropsPendingTimers) {
  ManualClock clock;
  int ran = 0;
  auto capture = std::make_shared<int>(0);
  bool timerRan = false;
  std::latch release(1);
  {
    SerialQueue queue("com.orvex.test.shutdown", clock);
    queue.async([&] { release.wait(); });
    for (int i = 0; i < 100; ++i) {
      queue.async([&] { ++ran; });
    }
    queue.after(seconds(1), [&timerRan, capture] { timerRan = true; });
    release.count_down();
  }
  EXPECT_EQ(ran, 100);
  EXPECT_FALSE(timerRan);
  EXPECT_EQ(capture.use_count(), 1) << "a dropped timer releases what it captured";
}

} // namespace
} // namespace orvex
