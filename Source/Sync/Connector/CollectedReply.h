// The whole reply of an evented transfer, collected on the caller's queue: the
// connector's requests are small enough to be handled whole, and handling them
// whole keeps the parsing in one place.
#pragma once

#include "Network/HttpResponse.h"
#include "Network/HttpTransfer.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace orvex {

struct CollectedReply {
  long status = 0;                // 0 when no response arrived
  std::string body;               // empty when none arrived
  std::optional<HttpError> error; // set when the transfer failed or the body was cut

  // What the log says about the transport: the error's message, else "(null)".
  std::string errorText() const;
};

// A reply body larger than this is not kept (a catch-up page of 10000 nodes
// is a few megabytes); the reply then counts as failed.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{256} << 20;

// Events that collect the reply and hand it to `done` once, on the transfer's
// queue, after it finished or failed.
HttpEvents collectReply(std::function<void(const CollectedReply&)> done, std::size_t maxBytes = kMaxReplyBytes);

} // namespace orvex
