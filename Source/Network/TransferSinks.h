// Internal to the HTTP client: the two ways a transfer's events reach their
// caller — collected into one result for a blocked caller, or posted one by
// one to the caller's serial queue.
#pragma once

#include "Dispatch/SerialQueue.h"
#include "Network/CurlTransfer.h"
#include "Network/HttpTransfer.h"

#include <future>
#include <memory>

namespace orvex {

// Collects the whole response; the promise is kept exactly once, also when
// the sink is dropped with the transfer unfinished (the client shut down
// before it ran). Used on the network thread only.
class BlockingSink final : public TransferSink {
 public:
  explicit BlockingSink(std::promise<HttpResult> promise) : promise_(std::move(promise)) {}
  ~BlockingSink() override;

  void response(HttpResponse head) override { response_ = std::move(head); }
  bool data(std::string_view bytes) override;
  void failure(HttpError error) override { keep(std::move(error)); }
  void finish() override { keep(std::move(response_)); }
  void abandon() override;

 private:
  void keep(HttpResult result);

  std::promise<HttpResult> promise_;
  HttpResponse response_;
  bool kept_ = false;
};

// Posts every event to the caller's queue. Events check the transfer's
// cancel flag when they run, on the queue, so none runs after cancel().
// Called on the network thread (a request refused before it starts is
// reported from the caller's thread); the posted events run on the queue.
class QueuedSink final : public TransferSink {
 public:
  QueuedSink(std::shared_ptr<HttpTransfer> transfer, SerialQueue& queue, HttpEvents events)
      : transfer_(std::move(transfer)), queue_(queue), events_(std::make_shared<HttpEvents>(std::move(events))) {}

  void response(HttpResponse head) override;
  bool data(std::string_view bytes) override;
  void failure(HttpError error) override;
  void finish() override;

 private:
  // Runs `event` on the queue unless the transfer was cancelled by then.
  void post(std::function<void(HttpEvents&)> event, std::size_t bytes = 0);

  // Constant after construction.
  const std::shared_ptr<HttpTransfer> transfer_;
  SerialQueue& queue_;
  const std::shared_ptr<HttpEvents> events_; // shared with the posted events
};

} // namespace orvex
