#include "Network/HttpClient.h"

#include "Network/CurlLoop.h"
#include "Network/TransferSinks.h"
#include "OVLogger.h"

namespace orvex {

HttpClient::HttpClient(HttpClientOptions options)
    : loop_(std::make_shared<CurlLoop>(kThreadLabel, std::move(options))) {
  loop_->start();
}

HttpClient::~HttpClient() {
  loop_->stop();
}

HttpResult HttpClient::send(const HttpRequest& request) {
  if (auto problem = requestProblem(request))
    return HttpError{HttpError::Kind::InvalidRequest, 0, *problem};
  if (loop_->isCurrent())
    return HttpError{HttpError::Kind::InvalidRequest, 0, "a blocking request on the network thread would never end"};
  std::promise<HttpResult> promise;
  auto result = promise.get_future();
  auto transfer = std::make_shared<CurlTransfer>(loop_->nextTransferId(), request,
                                                 std::make_unique<BlockingSink>(std::move(promise)));
  // When the client is stopping the job is dropped, and the transfer with it
  // keeps the promise with a Cancelled error.
  loop_->post([loop = loop_.get(), transfer] { loop->add(transfer); });
  return result.get();
}

std::shared_ptr<HttpTransfer> HttpClient::start(HttpRequest request, SerialQueue& queue, HttpEvents events) {
  const std::uint64_t id = loop_->nextTransferId();
  auto handle = std::make_shared<HttpTransfer>(id, loop_, loop_->options().maxPendingBytes);
  auto sink = std::make_unique<QueuedSink>(handle, queue, std::move(events));
  if (auto problem = requestProblem(request)) {
    sink->failure(HttpError{HttpError::Kind::InvalidRequest, 0, *problem});
    return handle;
  }
  auto transfer = std::make_shared<CurlTransfer>(id, std::move(request), std::move(sink));
  loop_->post([loop = loop_.get(), transfer] { loop->add(transfer); });
  return handle;
}

bool HttpClient::setCookie(const HttpCookie& cookie) {
  auto line = cookieStoreLine(cookie);
  if (!line) {
    OVLog(kLogMain, "Warning! Cookie {} for {} is not valid; not stored", cookie.name, cookie.domain);
    return false;
  }
  auto stored = loop_->call([loop = loop_.get(), line = *line] { return loop->setCookieLine(line); });
  return stored.value_or(false);
}

std::optional<std::string> HttpClient::cookieValue(std::string_view host, std::string_view name) {
  auto lines = loop_->call([loop = loop_.get()] { return loop->cookieLines(); });
  if (!lines)
    return std::nullopt;
  // Of several cookies of that name, the one of the most specific domain wins.
  std::optional<HttpCookie> best;
  for (const auto& line : *lines) {
    auto cookie = parseCookieStoreLine(line);
    if (cookie && cookie->name == name && cookieMatchesHost(*cookie, host) &&
        (!best || cookie->domain.size() > best->domain.size()))
      best = std::move(cookie);
  }
  if (!best)
    return std::nullopt;
  return best->value;
}

} // namespace orvex
