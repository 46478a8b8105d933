#include "Dispatch/Operation.h"
#include "Dispatch/OperationQueue.h"

#include <gtest/gtest.h>

#include <latch>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvex {
namespace {

// Records what ran, from any thread.
class Trace {
 public:
  void add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::vector<std::string> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

using Entries = std::vector<std::string>;

TEST(OperationDependencyTest, DependantWaitsEvenWhenAddedFirst) {
  OperationQueue queue("com.orvex.test.dependencies", 2);
  Trace trace;
  std::latch aStarted(1);
  std::latch releaseA(1);
  auto a = Operation::create([&](Operation&) {
    aStarted.count_down();
    releaseA.wait();
    trace.add("A");
  });
  auto b = Operation::create([&](Operation&) { trace.add("B"); });
  b->addDependency(a);
  queue.addOperation(b);
  queue.addOperation(a);
  aStarted.wait();
  EXPECT_FALSE(b->isExecuting());
  EXPECT_FALSE(b->isFinished());
  releaseA.count_down();
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(trace.entries(), (Entries{"A", "B"}));
  EXPECT_THROW(b->addDependency(b), std::invalid_argument);
}

TEST(OperationDependencyTest, ChainRunsInOrderOnAWideQueue) {
  constexpr int kLength = 10;
  OperationQueue queue("com.orvex.test.chain", 4);
  Trace trace;
  std::vector<std::shared_ptr<Operation>> chain;
  for (int i = 0; i < kLength; ++i) {
    chain.push_back(Operation::create([&trace, i](Operation&) { trace.add(std::to_string(i)); }));
    if (i > 0) {
      chain[i]->addDependency(chain[i - 1]);
    }
  }
  for (int i = kLength - 1; i >= 0; --i) {
    queue.addOperation(chain[i]);
  }
  queue.waitUntilAllOperationsAreFinished();
  Entries expected;
  for (int i = 0; i < kLength; ++i) {
    expected.push_back(std::to_string(i));
  }
  EXPECT_EQ(trace.entries(), expected);
}

TEST(OperationDependencyTest, CancelledDependencyCountsAsFinished) {
  OperationQueue queue("com.orvex.test.dependencies", 2);
  Trace trace;
  // The dependency is in no queue: only its cancellation can let the dependant go.
  auto never = Operation::create([&](Operation&) { trace.add("never"); });
  auto dependant = Operation::create([&](Operation&) { trace.add("dependant"); });
  dependant->addDependency(never);
  queue.addOperation(dependant);
  EXPECT_EQ(queue.operationCount(), 1u);
  EXPECT_FALSE(dependant->isExecuting());
  never->cancel();
  dependant->waitUntilFinished();
  EXPECT_EQ(trace.entries(), Entries{"dependant"});
}

TEST(OperationDependencyTest, DependencyInAnotherQueueCancelledWhileRunningIsAwaited) {
  OperationQueue uploads("com.orvex.test.first", 1);
  OperationQueue others("com.orvex.test.second", 1);
  Trace trace;
  std::latch started(1);
  std::latch release(1);
  auto first = uploads.addOperation([&](Operation&) {
    started.count_down();
    release.wait();
    trace.add("first");
  });
  auto second = Operation::create([&](Operation&) { trace.add("second"); });
  second->addDependency(first);
  others.addOperation(second);
  started.wait();
  first->cancel(); // running: the dependant still waits for the body to return
  EXPECT_FALSE(second->isExecuting());
  EXPECT_FALSE(second->isFinished());
  release.count_down();
  second->waitUntilFinished();
  EXPECT_EQ(trace.entries(), (Entries{"first", "second"}));
}

TEST(OperationDependencyTest, CompletionRunsBeforeTheOperationCountsAsFinished) {
  OperationQueue queue("com.orvex.test.completion", 2);
  Trace trace;
  std::latch inCompletion(1);
  std::latch release(1);
  auto a = Operation::create([&](Operation&) { trace.add("A"); });
  a->setCompletion([&] {
    inCompletion.count_down();
    release.wait();
    trace.add("A completed");
  });
  auto b = Operation::create([&](Operation&) { trace.add("B"); });
  b->addDependency(a);
  queue.addOperation(a);
  queue.addOperation(b);
  inCompletion.wait();
  EXPECT_FALSE(a->isFinished());
  EXPECT_FALSE(a->isExecuting());
  EXPECT_FALSE(b->isExecuting());
  release.count_down();
  a->waitUntilFinished();
  EXPECT_TRUE(a->isFinished());
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(trace.entries(), (Entries{"A", "A completed", "B"}));
}

} // namespace
} // namespace orvex
