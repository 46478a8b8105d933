// What the service's TLS listener received, for tests to check: a bounded log
// of requests (method, host, path, raw query and the headers clients must set,
// the bearer token reduced to its presence) with their reply status, and a
// count of requests and statuses per endpoint.
#pragma once

#include "Server/RequestObserver.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace orvex::service {

struct LoggedRequest {
  std::int64_t sequence = 0; // 1, 2, ... in arrival order; never reused, even after clear()
  std::string method;
  std::string host;
  std::string path;
  std::string query;
  bool authorization = false; // never the token itself: the log is served over plain HTTP
  std::optional<std::string> contentType;
  std::optional<std::string> contentRange;
  std::size_t bodyLength = 0;
  std::optional<int> status; // none while the request is being handled

  nlohmann::json toJson() const;
};

// "/api/shares/{ShareId}/files/{Id}" for "/api/shares/docs/files/x": the ids
// of a path replaced by what they stand for, so that counters add up per endpoint.
std::string endpointOf(const std::string& path);

// Called on the server's worker threads and the admin API's threads at once; mutex_ guards everything.
class RequestLog : public RequestObserver {
 public:
  // Keeps the newest `capacity` requests (a benchmark sends hundreds of thousands).
  explicit RequestLog(std::size_t capacity = 20000);

  // The requests after `sequence`, oldest first.
  nlohmann::json entriesAfter(std::int64_t sequence) const;
  // [{"Method", "Host", "Endpoint", "Count", "Statuses": {"200": n}}] in name order.
  nlohmann::json counters() const;
  void clearEntries();
  void clearCounters();

  bool beforeHandling(const httplib::Request& request, const std::string& host, httplib::Response& response) override;
  void afterHandling(const httplib::Request& request, const std::string& host,
                     const httplib::Response& response) override;

 private:
  struct Counter {
    std::int64_t count = 0;
    std::map<int, std::int64_t> statuses;
  };

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::deque<LoggedRequest> entries_;                    // guarded by mutex_; sequences ascending
  std::int64_t nextSequence_ = 1;                        // guarded by mutex_
  std::map<const httplib::Request*, std::int64_t> open_; // guarded by mutex_: requests being handled
  std::map<std::tuple<std::string, std::string, std::string>, Counter> counters_; // guarded by mutex_
};

} // namespace orvex::service
