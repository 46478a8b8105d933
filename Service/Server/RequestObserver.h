// A hook in front of every request the service receives, for the admin API's
// request log, counters and fault injection: an observer sees each request
// before it is handled (and may answer it instead), and each response once it
// is ready.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace orvex::service {

// Called on the server's worker threads, concurrently: implementations guard their own state.
class RequestObserver {
 public:
  virtual ~RequestObserver() = default;
  // `host` is the Host header without port, in lower case. True when the
  // observer has answered in `response`: the request is not handled further.
  virtual bool beforeHandling(const httplib::Request& request, const std::string& host,
                              httplib::Response& response) = 0;
  virtual void afterHandling(const httplib::Request& request, const std::string& host,
                             const httplib::Response& response) {
    (void)request, (void)host, (void)response;
  }
};

// The observers in the order they were added; the first one that answers a
// request ends the "before" round. Thread-safe (mutex_ guards the list; the
// observers are called with it released).
class RequestObservers {
 public:
  void add(std::shared_ptr<RequestObserver> observer);
  void remove(const std::shared_ptr<RequestObserver>& observer);

  bool beforeHandling(const httplib::Request& request, const std::string& host, httplib::Response& response) const;
  void afterHandling(const httplib::Request& request, const std::string& host, const httplib::Response& response) const;

 private:
  std::vector<std::shared_ptr<RequestObserver>> snapshot() const;

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<RequestObserver>> observers_; // guarded by mutex_
};

// The raw query of a request ("a=1&b=2"), as the client sent it.
std::string rawQuery(const httplib::Request& request);

} // namespace orvex::service
