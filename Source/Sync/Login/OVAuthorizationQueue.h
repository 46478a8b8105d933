// The hop of OVAuthorization's provider requests: work on the auth queue, its
// result back on the main queue. Included by OVAuthorization's own files only.
#pragma once

#include "Sync/Login/OVAuthorization.h"

namespace orvex {

template <class Work, class Then>
void OVAuthorization::onAuthQueue(Work work, Then then) {
  std::weak_ptr<int> life = life_;
  authQueue_.async([this, life, work = std::move(work), then = std::move(then)]() mutable {
    auto result = work();
    parts_.mainQueue.async([life, then = std::move(then), result = std::move(result)]() mutable {
      if (life.lock())
        then(result);
    });
  });
}

} // namespace orvex
