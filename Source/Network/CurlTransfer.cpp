#include "Network/CurlTransfer.h"

#include <algorithm>
#include <chrono>

namespace orvex {
namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  return text;
}

HttpError::Kind kindFor(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return HttpError::Kind::Timeout;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return HttpError::Kind::Tls;
    case CURLE_ABORTED_BY_CALLBACK:
      return HttpError::Kind::Cancelled;
    default:
      return HttpError::Kind::Transport;
  }
}

} // namespace

CurlTransfer::CurlTransfer(std::uint64_t id, HttpRequest request, std::unique_ptr<TransferSink> sink)
    : id_(id), request_(std::move(request)), sink_(std::move(sink)) {}

CurlTransfer::~CurlTransfer() {
  if (easy_ != nullptr)
    curl_easy_cleanup(easy_);
  curl_slist_free_all(headerList_);
}

std::optional<HttpError> CurlTransfer::prepare(const CurlSettings& settings) {
  easy_ = curl_easy_init();
  if (easy_ == nullptr)
    return HttpError{HttpError::Kind::Transport, CURLE_OUT_OF_MEMORY, "cannot create a transfer"};
  curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
  curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L); // the network thread blocks SIGPIPE itself
  curl_easy_setopt(easy_, CURLOPT_URL, request_.url.c_str());
  // Only the web: an address from a server reply must never read a local file.
  if (curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https") != CURLE_OK ||
      curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") != CURLE_OK)
    return HttpError{HttpError::Kind::InvalidRequest, 0, "cannot restrict the transfer to http and https"};
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, request_.followRedirects ? 1L : 0L);
  curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(easy_, CURLOPT_SHARE, settings.share);
  curl_easy_setopt(easy_, CURLOPT_COOKIEFILE, ""); // turns the cookie engine on, reading no file
  curl_easy_setopt(easy_, CURLOPT_NOPROXY, settings.options.noProxy.c_str());
  curl_easy_setopt(easy_, CURLOPT_TCP_KEEPALIVE, 1L);
  if (settings.connectTo != nullptr)
    curl_easy_setopt(easy_, CURLOPT_CONNECT_TO, settings.connectTo);
  if (!settings.options.userAgent.empty())
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, settings.options.userAgent.c_str());
  if (request_.basicAuth) {
    curl_easy_setopt(easy_, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(easy_, CURLOPT_USERNAME, request_.basicAuth->user.c_str());
    curl_easy_setopt(easy_, CURLOPT_PASSWORD, request_.basicAuth->password.c_str());
  }
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlTransfer::onHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransfer::onData);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  setTimeout();
  if (!setMethodAndBody() || !setHeaders() || !setTls(settings))
    return HttpError{HttpError::Kind::Transport, CURLE_OUT_OF_MEMORY, "cannot set up the transfer"};
  return std::nullopt;
}

bool CurlTransfer::setMethodAndBody() {
  const std::string& method = request_.method;
  if (method == "GET" && !request_.body)
    return curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L) == CURLE_OK;
  if (method == "HEAD" && !request_.body)
    return curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L) == CURLE_OK;
  // A POST or PUT always carries a length (0 for no body), which servers
  // expect of them; other methods send a body only when there is one.
  if (request_.body || method == "POST" || method == "PUT") {
    static const std::string kEmpty;
    const std::string& body = request_.body ? *request_.body : kEmpty;
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body.data());
  }
  if (method != "POST")
    return curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method.c_str()) == CURLE_OK;
  return true;
}

bool CurlTransfer::setHeaders() {
  auto append = [this](const std::string& line) {
    curl_slist* grown = curl_slist_append(headerList_, line.c_str());
    if (grown != nullptr)
      headerList_ = grown;
    return grown != nullptr;
  };
  bool ok = true;
  for (const auto& [name, value] : request_.headers.fields()) {
    std::string line = name;
    line += value.empty() ? ";" : ": "; // "Name;" is how curl sends an empty value
    line += value;
    ok = ok && append(line);
  }
  // Exactly the headers asked for: curl would add a form type to every body
  // and make large bodies wait for a "100 Continue" first.
  if (!request_.headers.contains("Content-Type"))
    ok = ok && append("Content-Type:");
  if (!request_.headers.contains("Expect"))
    ok = ok && append("Expect:");
  return ok && curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_) == CURLE_OK;
}

void CurlTransfer::setTimeout() {
  const auto idle = request_.timeout.value_or(HttpRequest::kDefaultIdleTimeout);
  const long idleMs = std::max(1L, static_cast<long>(idle.count()));
  const long idleSeconds = std::max(1L, (idleMs + 999) / 1000); // curl counts stalls in whole seconds
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, idleMs);
  curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, idleSeconds);
}

bool CurlTransfer::setTls(const CurlSettings& settings) {
  if (!settings.options.caFile)
    return true; // curl's defaults: the system store
  // The CA file takes the place of the system's bundle file; the system's
  // certificate folder stays, so public servers are still trusted.
  bool ok = curl_easy_setopt(easy_, CURLOPT_CAINFO, settings.options.caFile->c_str()) == CURLE_OK;
  if (!settings.caPath.empty())
    ok = ok && curl_easy_setopt(easy_, CURLOPT_CAPATH, settings.caPath.c_str()) == CURLE_OK;
  return ok;
}

size_t CurlTransfer::onHeader(char* bytes, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<CurlTransfer*>(self);
  transfer->headerLine(std::string_view(bytes, size * count));
  return size * count;
}

void CurlTransfer::headerLine(std::string_view line) {
  // Every response (an interim 100, a redirect, a proxy's answer to CONNECT)
  // starts with its status line; only the last block belongs to the answer.
  if (line.starts_with("HTTP/")) {
    responseHeaders_ = HttpHeaders();
    return;
  }
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0)
    return; // the blank line ending the block, or an obsolete continuation
  responseHeaders_.add(std::string(trim(line.substr(0, colon))), std::string(trim(line.substr(colon + 1))));
}

size_t CurlTransfer::onData(char* bytes, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<CurlTransfer*>(self);
  transfer->deliverResponse();
  if (!transfer->sink_->data(std::string_view(bytes, size * count)))
    return CURL_WRITEFUNC_PAUSE;
  return size * count;
}

void CurlTransfer::deliverResponse() {
  if (responseDelivered_)
    return;
  responseDelivered_ = true;
  HttpResponse head;
  long count = 0;
  char* url = nullptr;
  curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &head.status);
  curl_easy_getinfo(easy_, CURLINFO_NUM_CONNECTS, &count);
  curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &url);
  head.newConnections = count;
  head.url = url != nullptr ? url : request_.url;
  head.headers = responseHeaders_;
  sink_->response(std::move(head));
}

void CurlTransfer::complete(CURLcode code) {
  long status = 0;
  curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
  if (code == CURLE_OK || status != 0)
    deliverResponse();
  if (code == CURLE_OK)
    sink_->finish();
  else
    sink_->failure(errorFor(code));
}

HttpError CurlTransfer::errorFor(CURLcode code) const {
  std::string message = curl_easy_strerror(code);
  if (errorBuffer_[0] != '\0')
    message += std::string(": ") + errorBuffer_;
  return HttpError{kindFor(code), static_cast<int>(code), std::move(message)};
}

} // namespace orvex
