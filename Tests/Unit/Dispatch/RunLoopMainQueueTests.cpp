#include "Dispatch/Clock.h"
#include "Dispatch/RunLoopMainQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace orvex {
namespace {

using std::chrono::seconds;

TEST(RunLoopMainQueueTest, RunsJobsInOrderOnTheThreadThatCalledRun) {
  RunLoopMainQueue main;
  EXPECT_TRUE(main.isMainThread()) << "before run(), the creating thread is the main thread";
  std::vector<int> order; // touched by whichever thread is inside run()
  std::thread::id ranOn;
  bool mainInside = false;
  main.async([&] {
    order.push_back(1);
    ranOn = std::this_thread::get_id();
    mainInside = main.isMainThread();
  });
  main.async([&] {
    order.push_back(2);
    main.quit();
  });
  main.async([&] {
    order.push_back(3);
    main.quit();
  });
  std::thread loop([&] { main.run(); });
  const auto loopId = loop.get_id();
  loop.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(ranOn, loopId);
  EXPECT_TRUE(mainInside);
  EXPECT_FALSE(main.isMainThread());

  main.run(); // the job left behind by quit() runs in the next run()
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(main.isMainThread());
}

TEST(RunLoopMainQueueTest, QuitFromAnotherThreadAndBeforeRun) {
  RunLoopMainQueue main;
  std::promise<void> running;
  main.async([&] { running.set_value(); });
  std::thread loop([&] { main.run(); });
  running.get_future().wait();
  main.quit(); // the loop is asleep with nothing to do
  loop.join();

  main.quit();
  main.run(); // returns at once: the quit was kept
}

TEST(RunLoopMainQueueTest, ThrowingJobEndsRunAndLeavesTheQueueUsable) {
  RunLoopMainQueue main;
  main.async([] { throw std::runtime_error("alert failed"); });
  EXPECT_THROW(main.run(), std::runtime_error);
  bool ran = false;
  main.async([&] {
    ran = true;
    main.quit();
  });
  main.run();
  EXPECT_TRUE(ran);
}

class RunningMainQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::promise<void> entered;
    main.async([&] { entered.set_value(); });
    loop = std::thread([this] { main.run(); });
    entered.get_future().wait(); // from here on the loop thread is the main thread
  }
  void TearDown() override {
    main.quit();
    loop.join();
  }
  // Two round trips: the first lets the loop notice earlier advances, whose
  // due jobs may queue behind it; the second comes after those.
  std::vector<std::string> ran() {
    main.sync([] {});
    return main.sync([this] { return log; });
  }

  ManualClock clock;
  RunLoopMainQueue main{clock};
  std::thread loop;
  std::vector<std::string> log; // main thread only
};

TEST_F(RunningMainQueueTest, SyncRunsOnTheMainThreadAndRethrows) {
  EXPECT_FALSE(main.isMainThread());
  EXPECT_TRUE(main.sync([this] { return main.isMainThread(); }));
  EXPECT_THROW(main.sync([]() -> int { throw std::runtime_error("no token"); }), std::runtime_error);
  std::promise<int> inlineResult;
  main.async([&] { inlineResult.set_value(main.sync([] { return 5; })); });
  EXPECT_EQ(inlineResult.get_future().get(), 5);
}

TEST_F(RunningMainQueueTest, DelayedJobsFollowTheClock) {
  main.after(seconds(2), [this] { log.push_back("a"); });
  main.after(seconds(2), [this] { log.push_back("b"); });
  main.after(seconds(1), [this] { log.push_back("c"); });
  auto cancelled = main.after(seconds(1), [this] { log.push_back("cancelled"); });
  main.after(seconds(60), [this] { log.push_back("later"); });
  EXPECT_TRUE(ran().empty());
  cancelled.cancel();
  clock.advance(seconds(1));
  EXPECT_EQ(ran(), std::vector<std::string>{"c"});
  clock.advance(seconds(1));
  EXPECT_EQ(ran(), (std::vector<std::string>{"c", "a", "b"}));
}

} // namespace
} // namespace orvex
