// Internal to the HTTP client: the network thread. It owns the curl multi
// handle every transfer runs in (and with it the pool of connections), the
// share handle holding the cookie store and TLS sessions, and an easy handle
// for reading and writing cookies.
#pragma once

#include "Network/CurlTransfer.h"
#include "Network/HttpClientOptions.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace orvex {

// post() and isCurrent() are thread-safe; every other member runs on the
// network thread only, which is the only thread that touches a curl handle
// (curl_multi_wakeup aside). That is why the share handle needs no lock
// callbacks, and why sharing the connection pool is safe: curl does not
// support a pool shared by transfers on several threads.
class CurlLoop : public std::enable_shared_from_this<CurlLoop> {
 public:
  using Job = std::function<void()>;

  CurlLoop(std::string label, HttpClientOptions options);
  CurlLoop(const CurlLoop&) = delete;
  CurlLoop& operator=(const CurlLoop&) = delete;
  ~CurlLoop();

  void start();
  // Ends the thread: unfinished transfers are abandoned, jobs not yet run are dropped.
  void stop();

  // Runs `job` on the network thread; false (and the job dropped) once stopping.
  bool post(Job job);
  bool isCurrent() const { return std::this_thread::get_id() == threadId_.load(); }
  // Runs `fn` on the network thread and waits for its result; nullopt when
  // the loop stops first. Never call it from the network thread.
  template <class F>
  auto call(F fn) -> std::optional<std::invoke_result_t<F&>> {
    using Result = std::invoke_result_t<F&>;
    // Owned by the job: a job dropped unrun breaks the promise instead of leaving us waiting.
    auto promise = std::make_shared<std::promise<Result>>();
    auto result = promise->get_future();
    if (!post([promise, fn = std::move(fn)]() mutable { promise->set_value(fn()); }))
      return std::nullopt;
    try {
      return result.get();
    } catch (const std::future_error&) {
      return std::nullopt;
    }
  }
  std::uint64_t nextTransferId() { return nextId_.fetch_add(1); }
  const HttpClientOptions& options() const { return settings_.options; } // constant

  // Network thread only.
  void add(const std::shared_ptr<CurlTransfer>& transfer);
  void cancel(std::uint64_t id);
  void resume(std::uint64_t id);
  bool setCookieLine(const std::string& line);
  std::vector<std::string> cookieLines();

 private:
  void run();
  // Takes the posted jobs; false once stop() was asked.
  bool takeJobs(std::deque<Job>& into);
  void collectFinished();
  void abandonAll();

  // Constant after construction (the handles' contents belong to the network thread).
  const std::string label_;
  CurlSettings settings_;
  CURLM* multi_ = nullptr;
  CURL* cookieHandle_ = nullptr;

  std::atomic<std::uint64_t> nextId_{1};
  std::atomic<std::thread::id> threadId_;

  std::mutex mutex_;
  std::deque<Job> jobs_;  // guarded by mutex_
  bool stopping_ = false; // guarded by mutex_

  // Network thread only.
  std::unordered_map<std::uint64_t, std::shared_ptr<CurlTransfer>> transfers_;

  std::thread thread_;
};

} // namespace orvex
