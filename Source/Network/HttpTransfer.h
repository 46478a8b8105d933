// The caller's handle on one evented transfer: what it hears about it and how
// it stops it.
#pragma once

#include "Network/HttpResponse.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace orvex {

class CurlLoop;

// What an evented transfer reports, each on the caller's serial queue and in
// this order: response once (status and headers, no body), data zero or more
// times (the body in pieces, in order), then exactly one of finish or failure.
// A failure may come without a response (nothing was received) or after some
// data (the connection broke). Empty handlers are skipped.
struct HttpEvents {
  std::function<void(const HttpResponse& response)> response;
  std::function<void(std::string data)> data;
  std::function<void(const HttpError& error)> failure;
  std::function<void()> finish;
};

// Thread-safe. cancel() may be called from any thread but the network thread,
// any number of times: no event starts after it returned, so called on the
// delivery queue (from an event handler, say) it is the last the caller hears
// of the transfer. Once it returned, the network thread does not touch the
// delivery queue again either, so the queue may go. deliveryMutex_ makes
// handing an event to the queue and cancelling exclusive.
class HttpTransfer {
 public:
  // `maxPendingBytes`: see HttpClientOptions.
  HttpTransfer(std::uint64_t id, std::weak_ptr<CurlLoop> loop, std::size_t maxPendingBytes)
      : id_(id), loop_(std::move(loop)), maxPendingBytes_(maxPendingBytes) {}
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;

  void cancel();
  bool isCancelled() const { return cancelled_.load(); }

  // On the network thread: runs `handOver` (which posts one event to the
  // delivery queue) unless the transfer is cancelled. Called by the client's
  // internals only.
  template <class F>
  void handOverUnlessCancelled(F&& handOver) {
    std::lock_guard lock(deliveryMutex_);
    if (!cancelled_.load())
      handOver();
  }
  // Waiting for the receiver to catch up.
  bool isPaused() const { return paused_.load(); }

  // The receiving side of the flow control (the data of a transfer waits in
  // the delivery queue; a slow receiver must not make it hold a whole file).
  // Called by the client's internals only.
  // On the network thread, with `bytes` about to be posted: false pauses the
  // transfer until the receiver has caught up.
  bool admit(std::size_t bytes);
  // On the delivery queue, after a data event ran.
  void consumed(std::size_t bytes);

 private:
  // Constant after construction.
  const std::uint64_t id_;
  const std::weak_ptr<CurlLoop> loop_;
  const std::size_t maxPendingBytes_;
  // A paused transfer goes on once this little is left, so that it does not
  // stop and start for every piece.
  std::size_t resumePendingBytes() const { return maxPendingBytes_ / 4; }

  std::mutex deliveryMutex_;
  std::atomic<bool> cancelled_{false};
  std::atomic<std::size_t> pendingBytes_{0};
  std::atomic<bool> paused_{false};
};

} // namespace orvex
