#include "Network/TransferSinks.h"

#include "OVLogger.h"

#include <exception>

namespace orvex {

BlockingSink::~BlockingSink() {
  abandon();
}

bool BlockingSink::data(std::string_view bytes) {
  response_.body.append(bytes);
  return true;
}

void BlockingSink::abandon() {
  keep(HttpError{HttpError::Kind::Cancelled, 0, "the HTTP client shut down"});
}

void BlockingSink::keep(HttpResult result) {
  if (kept_)
    return;
  kept_ = true;
  promise_.set_value(std::move(result));
}

void QueuedSink::response(HttpResponse head) {
  post([head = std::move(head)](HttpEvents& events) {
    if (events.response)
      events.response(head);
  });
}

bool QueuedSink::data(std::string_view bytes) {
  if (!transfer_->admit(bytes.size()))
    return false;
  post(
      [data = std::string(bytes)](HttpEvents& events) mutable {
        if (events.data)
          events.data(std::move(data));
      },
      bytes.size());
  return true;
}

void QueuedSink::failure(HttpError error) {
  post([error = std::move(error)](HttpEvents& events) {
    if (events.failure)
      events.failure(error);
  });
}

void QueuedSink::finish() {
  post([](HttpEvents& events) {
    if (events.finish)
      events.finish();
  });
}

void QueuedSink::post(std::function<void(HttpEvents&)> event, std::size_t bytes) {
  // A cancelled transfer's queue may be gone already.
  transfer_->handOverUnlessCancelled([&] {
    queue_.async([transfer = transfer_, events = events_, event = std::move(event), bytes] {
      if (!transfer->isCancelled()) {
        // A handler's exception must not end the caller's queue thread.
        try {
          event(*events);
        } catch (const std::exception& e) {
          OVLog(kLogMain, "Error! HTTP event handler failed: {}", e.what());
        }
      }
      if (bytes > 0)
        transfer->consumed(bytes);
    });
  });
}

} // namespace orvex
