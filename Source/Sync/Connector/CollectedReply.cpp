#include "Sync/Connector/CollectedReply.h"

#include <fmt/format.h>

#include <memory>
#include <utility>

namespace orvex {

std::string CollectedReply::errorText() const {
  return error ? error->message : std::string("(null)");
}

HttpEvents collectReply(std::function<void(const CollectedReply&)> done, std::size_t maxBytes) {
  // The events run one after another on one queue; the state needs no lock.
  struct State {
    CollectedReply reply;
    bool overflowed = false;
    std::function<void(const CollectedReply&)> done;
  };
  auto state = std::make_shared<State>();
  state->done = std::move(done);

  HttpEvents events;
  events.response = [state](const HttpResponse& response) { state->reply.status = response.status; };
  events.data = [state, maxBytes](const std::string& data) {
    if (state->overflowed || state->reply.body.size() + data.size() > maxBytes) {
      state->overflowed = true;
      state->reply.body.clear();
      return;
    }
    state->reply.body += data;
  };
  events.failure = [state](const HttpError& error) {
    state->reply.error = error;
    state->reply.body.clear(); // a broken reply is no reply
    state->done(state->reply);
  };
  events.finish = [state, maxBytes] {
    if (state->overflowed) {
      state->reply.error =
          HttpError{HttpError::Kind::Transport, 0, fmt::format("the reply was larger than {} bytes", maxBytes)};
    }
    state->done(state->reply);
  };
  return events;
}

} // namespace orvex
