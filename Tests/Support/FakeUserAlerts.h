// An alert seam for tests: records every alert shown and answers with the
// answers a test queued, or with the alert's default once they run out.
#pragma once

#include "UI/OVUserAlerts.h"

#include <deque>
#include <mutex>
#include <vector>

namespace orvex::test {

// Thread-safe: the code under test may show alerts from any thread.
class FakeUserAlerts final : public OVUserAlerts {
 public:
  OVAlertAnswer runModal(const OVAlert& alert) override {
    std::lock_guard lock(mutex_);
    shown_.push_back(alert);
    if (answers_.empty())
      return OVAlertAnswer{defaultAnswerIndex(alert), alert.checkboxState};
    OVAlertAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

  // The answer to give to the next alert not yet answered.
  void queueAnswer(OVAlertAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
  }

  std::vector<OVAlert> shown() {
    std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  std::mutex mutex_;
  std::vector<OVAlert> shown_;        // guarded by mutex_
  std::deque<OVAlertAnswer> answers_; // guarded by mutex_
};

} // namespace orvex::test
