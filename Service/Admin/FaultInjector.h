// Fault injection for tests, as a request observer on the service's TLS
// listener: the first rule whose patterns match a request (and that has
// occurrences left) acts on it. A rule answers with its own status and body,
// delays or stalls the request (then lets the service answer it, or answers
// itself), or cuts the reply's body after N bytes and drops the connection.
#pragma once

#include "Admin/FaultRule.h"
#include "Admin/HeldRequest.h"
#include "Dispatch/Clock.h"
#include "Server/RequestObserver.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace orvex::service {

// Called from the TLS server's workers and the admin API's threads at once.
// mutex_ guards the rules and their held requests; a held request waits with
// mutex_ released. Lock order: the clock's listener lock, then mutex_.
class FaultInjector : public RequestObserver {
 public:
  // Serves a request as the service would (for rules that cut the real reply).
  using Forward = std::function<void(const httplib::Request&, httplib::Response&, const std::string& host)>;

  FaultInjector(Clock& clock, Forward forward);
  ~FaultInjector() override;

  // The rule with its new id.
  FaultRule add(FaultRule rule);
  // False when no rule has `id`. Requests it holds go on as if released.
  bool remove(std::int64_t id);
  void clear();
  // Rules in the order they are tried, each with "Hits" (requests acted on)
  // and "Held" (requests waiting now).
  nlohmann::json list() const;
  std::optional<nlohmann::json> describe(std::int64_t id) const;
  // Lets every request held by rule `id` go on; false for an unknown rule.
  bool release(std::int64_t id);
  // Blocks until rule `id` holds exactly `held` requests (when given) and has
  // acted on at least `hits`, or `timeout` of real time passed. The rule's
  // description when reached; none when the rule is unknown or time ran out.
  std::optional<nlohmann::json> waitFor(std::int64_t id, std::optional<std::int64_t> held, std::int64_t hits,
                                        std::chrono::milliseconds timeout) const;
  // Releases every held request; from now on nothing is held (the server is stopping).
  void shutDown();

  bool beforeHandling(const httplib::Request& request, const std::string& host, httplib::Response& response) override;

 private:
  struct Entry {
    FaultRule rule;
    std::int64_t hits = 0;
    std::set<std::shared_ptr<HeldRequest>> held;

    void releaseAll() const;
  };

  // The rule acting on this request, its hit counted.
  std::optional<FaultRule> claim(const std::string& host, const std::string& method, const std::string& path);
  // Holds the request as `rule` says; false when it must not be served any more.
  bool hold(const httplib::Request& request, const FaultRule& rule);
  // The same for the connection on socket `fd` (-1: none to watch).
  bool holdConnection(int fd, const FaultRule& rule);
  nlohmann::json describeLocked(const Entry& entry) const;
  void wakeAll();

  Clock& clock_;
  const Forward forward_;
  Clock::ListenerId clockListener_ = 0; // constant after construction

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_; // hits or held requests changed
  std::map<std::int64_t, Entry> rules_;     // guarded by mutex_; ids grow, so this is the order of adding
  std::int64_t nextId_ = 1;                 // guarded by mutex_
  bool stopping_ = false;                   // guarded by mutex_
};

// Cuts the body of `response` after `bytes` bytes: the headers still announce
// the whole length, and the connection is closed where the body stops.
void cutBody(httplib::Response& response, std::int64_t bytes);
// Sends `bytes` bytes of the body, then calls `reached` (on the server's
// worker, once): true sends the rest, false closes the connection there.
void pauseBody(httplib::Response& response, std::int64_t bytes, std::function<bool()> reached);

} // namespace orvex::service
