#include "Dispatch/Operation.h"
#include "Dispatch/OperationQueue.h"
#include "Dispatch/ThreadName.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <latch>
#include <memory>
#include <semaphore>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace orvex {
namespace {

std::size_t executingCount(const OperationQueue& queue) {
  std::size_t executing = 0;
  for (const auto& operation : queue.operations()) {
    executing += operation->isExecuting() ? 1 : 0;
  }
  return executing;
}

TEST(OperationQueueTest, NeverRunsMoreThanItsWidthAndReachesIt) {
  constexpr std::size_t kWidth = 3;
  constexpr int kOperations = 12;
  OperationQueue queue("com.orvex.clouddrive-osx.uploadThread", kWidth);
  std::atomic<int> running{0};
  std::atomic<int> peak{0};
  std::atomic<int> done{0};
  std::latch firstWave(kWidth);
  std::latch release(1);
  std::vector<std::string> labels(kOperations);
  for (int i = 0; i < kOperations; ++i) {
    queue.addOperation([&, i](Operation&) {
      const int now = ++running;
      int seen = peak.load();
      while (now > seen && !peak.compare_exchange_weak(seen, now)) {
      }
      labels[i] = currentThreadLabel();
      // Operations start in the order added, so the first three are the ones holding the slots.
      if (i < static_cast<int>(kWidth)) {
        firstWave.count_down();
        release.wait();
      }
      --running;
      ++done;
    });
  }
  firstWave.wait();
  EXPECT_EQ(queue.operationCount(), std::size_t{kOperations});
  EXPECT_EQ(executingCount(queue), kWidth);
  release.count_down();
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(peak.load(), static_cast<int>(kWidth));
  EXPECT_EQ(done.load(), kOperations);
  EXPECT_EQ(queue.operationCount(), 0u);
  for (const auto& label : labels) {
    EXPECT_EQ(label, "com.orvex.clouddrive-osx.uploadThread");
  }
}

TEST(OperationQueueTest, WidthZeroHoldsOperationsUntilRaised) {
  OperationQueue queue("com.orvex.test.width", 0);
  std::counting_semaphore<3> started(0);
  std::latch release(1);
  for (int i = 0; i < 3; ++i) {
    queue.addOperation([&](Operation&) {
      started.release();
      release.wait();
    });
  }
  EXPECT_EQ(executingCount(queue), 0u);
  queue.setMaxConcurrentOperationCount(1);
  started.acquire();
  EXPECT_EQ(executingCount(queue), 1u);
  queue.setMaxConcurrentOperationCount(3); // the busy queue must add workers
  started.acquire();
  started.acquire();
  EXPECT_EQ(executingCount(queue), 3u);
  release.count_down();
  queue.waitUntilAllOperationsAreFinished();
}

TEST(OperationQueueTest, CancelBeforeStartSkipsTheBodyAndFinishesAtOnce) {
  OperationQueue queue("com.orvex.test.cancel", 1);
  std::latch started(1);
  std::latch release(1);
  queue.addOperation([&](Operation&) {
    started.count_down();
    release.wait();
  });
  std::atomic<bool> ran{false};
  int completions = 0;
  auto waiting = Operation::create([&](Operation&) { ran = true; });
  waiting->setCompletion([&] { ++completions; });
  queue.addOperation(waiting);
  started.wait();
  EXPECT_EQ(queue.operationCount(), 2u);

  waiting->cancel();
  EXPECT_TRUE(waiting->isCancelled());
  EXPECT_TRUE(waiting->isFinished());
  EXPECT_FALSE(waiting->isExecuting());
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(queue.operationCount(), 1u);
  waiting->waitUntilFinished(); // returns at once

  auto neverQueued = Operation::create([&](Operation&) { ran = true; });
  neverQueued->cancel();
  queue.addOperation(neverQueued); // already finished: ignored
  EXPECT_EQ(queue.operationCount(), 1u);

  release.count_down();
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_FALSE(ran);
  EXPECT_EQ(completions, 1);
  EXPECT_THROW(queue.addOperation(waiting), std::logic_error);
}

TEST(OperationQueueTest, CancelWhileRunningSetsTheFlagTheBodyPolls) {
  OperationQueue queue("com.orvex.test.cancel", 2);
  std::latch started(1);
  std::latch cancelled(1);
  bool flagAtStart = true;
  bool flagAfterCancel = false;
  auto operation = queue.addOperation([&](Operation& self) {
    flagAtStart = self.isCancelled();
    started.count_down();
    cancelled.wait();
    flagAfterCancel = self.isCancelled();
  });
  started.wait();
  operation->cancel();
  EXPECT_TRUE(operation->isExecuting()) << "cancel does not stop a running body";
  EXPECT_FALSE(operation->isFinished());
  cancelled.count_down();
  operation->waitUntilFinished();
  EXPECT_FALSE(flagAtStart);
  EXPECT_TRUE(flagAfterCancel);
  EXPECT_TRUE(operation->isFinished());
  EXPECT_FALSE(operation->isExecuting());
}

TEST(OperationQueueTest, CancelAllEndsWaitingOperationsAndFlagsRunningOnes) {
  OperationQueue queue("com.orvex.test.cancelAll", 1);
  std::latch started(1);
  std::latch release(1);
  std::atomic<int> completions{0};
  bool runningSawFlag = false;
  auto running = queue.addOperation([&](Operation& self) {
    started.count_down();
    release.wait();
    runningSawFlag = self.isCancelled();
  });
  running->setCompletion([&] { ++completions; });
  std::atomic<int> ran{0};
  for (int i = 0; i < 5; ++i) {
    auto waiting = Operation::create([&](Operation&) { ++ran; });
    waiting->setCompletion([&] { ++completions; });
    queue.addOperation(waiting);
  }
  started.wait();

  queue.cancelAllOperations();
  EXPECT_EQ(queue.operationCount(), 1u);
  EXPECT_EQ(completions.load(), 5);
  release.count_down();
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(runningSawFlag);
  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(completions.load(), 6);
}

TEST(OperationQueueTest, AsynchronousOperationHoldsItsSlotUntilFinished) {
  OperationQueue queue("com.orvex.test.async", 1);
  std::latch bodyReturned(1);
  auto async = Operation::create([&](Operation&) { bodyReturned.count_down(); }, Operation::Kind::Asynchronous);
  queue.addOperation(async);
  std::atomic<bool> nextRan{false};
  auto next = queue.addOperation([&](Operation&) { nextRan = true; });
  bodyReturned.wait();
  EXPECT_TRUE(async->isExecuting());
  EXPECT_EQ(queue.operationCount(), 2u);
  EXPECT_FALSE(next->isExecuting());

  std::thread([&] { async->finish(); }).join(); // completion may come from any thread
  next->waitUntilFinished();
  EXPECT_TRUE(nextRan);
  EXPECT_TRUE(async->isFinished());
  async->finish(); // a second call changes nothing
  EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueueTest, DestructionCancelsWaitingOperationsAndWaitsForRunningOnes) {
  auto queue = std::make_unique<OperationQueue>("com.orvex.test.shutdown", 1);
  std::latch started(1);
  std::latch release(1);
  std::latch shutdownBegan(1);
  auto running = queue->addOperation([&](Operation&) {
    started.count_down();
    release.wait();
  });
  std::atomic<int> ran{0};
  std::vector<std::shared_ptr<Operation>> waiting;
  waiting.reserve(3);
  for (int i = 0; i < 3; ++i) {
    waiting.push_back(queue->addOperation([&](Operation&) { ++ran; }));
  }
  // Waiting operations are cancelled on the destroying thread before it waits.
  waiting.back()->setCompletion([&] { shutdownBegan.count_down(); });
  started.wait();

  std::thread destroyer([&] { queue.reset(); });
  shutdownBegan.wait();
  EXPECT_FALSE(running->isFinished());
  release.count_down();
  destroyer.join();
  EXPECT_TRUE(running->isFinished());
  EXPECT_FALSE(running->isCancelled());
  EXPECT_EQ(ran.load(), 0);
  for (const auto& operation : waiting) {
    EXPECT_TRUE(operation->isCancelled());
    EXPECT_TRUE(operation->isFinished());
  }
}

} // namespace
} // namespace orvex
