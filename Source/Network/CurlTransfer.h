// Internal to the HTTP client: one transfer on the network thread — its curl
// easy handle, set up from an HttpRequest, and the callbacks that turn what
// curl reads into response, data, failure and finish for a TransferSink.
#pragma once

#include "Network/HttpClientOptions.h"
#include "Network/HttpRequest.h"
#include "Network/HttpResponse.h"

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// Where a transfer's events go. Called on the network thread only.
class TransferSink {
 public:
  virtual ~TransferSink() = default;
  virtual void response(HttpResponse head) = 0;
  // false: the receiver is behind; the transfer pauses and `bytes` come again
  // once it is resumed.
  virtual bool data(std::string_view bytes) = 0;
  virtual void failure(HttpError error) = 0;
  virtual void finish() = 0;
  // The client shuts down with the transfer unfinished.
  virtual void abandon() {}
};

// What every transfer shares: the options and the handles of the network
// thread. Owned by the loop; constant once the thread runs.
struct CurlSettings {
  HttpClientOptions options;
  CURLSH* share = nullptr;
  curl_slist* connectTo = nullptr;
  std::string caPath; // the system's certificate folder, kept when a CA file is added
};

// Lives on the network thread from prepare() to its end; never shared.
class CurlTransfer {
 public:
  CurlTransfer(std::uint64_t id, HttpRequest request, std::unique_ptr<TransferSink> sink);
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;
  ~CurlTransfer();

  // Creates the easy handle for `settings`; the reason when it cannot.
  std::optional<HttpError> prepare(const CurlSettings& settings);
  // Reports the outcome curl gave the finished transfer.
  void complete(CURLcode code);
  // Reports that the transfer will not finish (see TransferSink::abandon).
  void abandon() { sink_->abandon(); }
  // Reports a transfer that never started.
  void fail(HttpError error) { sink_->failure(std::move(error)); }

  CURL* easy() const { return easy_; }
  std::uint64_t id() const { return id_; }

 private:
  static size_t onHeader(char* bytes, size_t size, size_t count, void* self);
  static size_t onData(char* bytes, size_t size, size_t count, void* self);
  void headerLine(std::string_view line);
  bool setMethodAndBody();
  bool setHeaders();
  void setTimeout();
  bool setTls(const CurlSettings& settings);
  // Sends the response event unless it went already.
  void deliverResponse();
  HttpError errorFor(CURLcode code) const;

  // Constant after construction.
  const std::uint64_t id_;
  const HttpRequest request_; // curl reads the body from here: it must not move
  const std::unique_ptr<TransferSink> sink_;

  CURL* easy_ = nullptr;
  curl_slist* headerList_ = nullptr;
  HttpHeaders responseHeaders_; // of the latest header block
  bool responseDelivered_ = false;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
};

} // namespace orvex
