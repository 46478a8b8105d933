// The in-process notification centre: delivery by name on the observer's queue.
#include "Dispatch/NotificationCenter.h"

#include <gtest/gtest.h>

#include <any>
#include <future>
#include <string>
#include <vector>

namespace orvex::test {
namespace {

class NotificationCenterTest : public ::testing::Test {
 protected:
  // Waits until every job posted to `queue` so far has run.
  static void drain(SerialQueue& queue) {
    queue.sync([] {});
  }

  NotificationCenter center;
  SerialQueue observerQueue{"test.observer"};
};

TEST_F(NotificationCenterTest, ObserversHearTheirNameOnTheirQueueWithTheDetails) {
  std::vector<std::string> heard; // only touched on observerQueue
  bool onQueue = true;
  center.addObserver("a", observerQueue, [&](const Notification& notification) {
    onQueue = onQueue && observerQueue.isCurrent();
    heard.push_back(notification.name + ":" + std::to_string(std::any_cast<int>(notification.userInfo.at("n"))));
  });
  center.post("a", this, {{"n", 1}});
  center.post("b", this, {{"n", 2}});
  center.post("a", this, {{"n", 3}});
  drain(observerQueue);
  EXPECT_EQ(heard, (std::vector<std::string>{"a:1", "a:3"}));
  EXPECT_TRUE(onQueue);
}

TEST_F(NotificationCenterTest, RemovedObserverHearsNothingEvenOfNoticesOnTheirWay) {
  int heard = 0; // only touched on observerQueue
  std::promise<void> release;
  auto released = release.get_future().share();
  // Hold the observer's queue so that the notice waits there while the observer is removed.
  observerQueue.async([released] { released.wait(); });
  auto id = center.addObserver("a", observerQueue, [&](const Notification&) { ++heard; });
  center.post("a", this);
  center.removeObserver(id);
  release.set_value();
  center.post("a", this);
  drain(observerQueue);
  EXPECT_EQ(heard, 0);
}

} // namespace
} // namespace orvex::test
