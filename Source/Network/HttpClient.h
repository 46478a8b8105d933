// The program's one HTTP client. Every transfer, blocking or evented, runs on
// one network thread that owns a curl multi handle, so that all of them share
// one pool of connections, one TLS session cache and one cookie store.
#pragma once

#include "Dispatch/SerialQueue.h"
#include "Network/HttpClientOptions.h"
#include "Network/HttpCookie.h"
#include "Network/HttpRequest.h"
#include "Network/HttpResponse.h"
#include "Network/HttpTransfer.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// Thread-safe: every member may be called from any thread except the network
// thread itself (no caller code ever runs there: events go to the caller's
// queues). Destruction cancels every transfer: blocking callers get a
// Cancelled error, evented transfers hear nothing more.
class HttpClient {
 public:
  explicit HttpClient(HttpClientOptions options = {});
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;
  ~HttpClient();

  // Sends `request` and waits for the whole response.
  HttpResult send(const HttpRequest& request);

  // Starts `request` and reports it on `queue` (see HttpEvents). The queue
  // must outlive the transfer's last event, its cancel(), or the client.
  std::shared_ptr<HttpTransfer> start(HttpRequest request, SerialQueue& queue, HttpEvents events);

  // Places a cookie in the store, as if a response from its domain had set
  // it; false (and a warning) when the cookie is not valid.
  bool setCookie(const HttpCookie& cookie);
  // The value of the cookie `name` a request to `host` would carry; nullopt
  // when there is none.
  std::optional<std::string> cookieValue(std::string_view host, std::string_view name);

  static constexpr const char* kThreadLabel = "com.orvex.clouddrive-osx.network";

 private:
  std::shared_ptr<CurlLoop> loop_;
};

} // namespace orvex
