#include "Network/HttpTransfer.h"

#include "Network/CurlLoop.h"

namespace orvex {

void HttpTransfer::cancel() {
  {
    // Waits for an event being handed to the delivery queue right now.
    std::lock_guard lock(deliveryMutex_);
    if (cancelled_.exchange(true))
      return;
  }
  if (auto loop = loop_.lock())
    loop->post([raw = loop.get(), id = id_] { raw->cancel(id); });
}

bool HttpTransfer::admit(std::size_t bytes) {
  if (pendingBytes_.load() > maxPendingBytes_) {
    paused_.store(true);
    // The receiver may have caught up between the two reads without seeing
    // the flag; then nobody would resume us, so go on instead.
    if (pendingBytes_.load() > resumePendingBytes())
      return false;
    paused_.store(false);
  }
  pendingBytes_.fetch_add(bytes);
  return true;
}

void HttpTransfer::consumed(std::size_t bytes) {
  const std::size_t left = pendingBytes_.fetch_sub(bytes) - bytes;
  // A resume for a transfer that admit() let go on after all does no harm.
  if (left <= resumePendingBytes() && paused_.exchange(false)) {
    if (auto loop = loop_.lock())
      loop->post([raw = loop.get(), id = id_] { raw->resume(id); });
  }
}

} // namespace orvex
