#include "Admin/FaultInjector.h"

#include "Api/Replies.h"

#include <httplib.h>
#include <openssl/ssl.h>

namespace orvex::service {

FaultInjector::FaultInjector(Clock& clock, Forward forward) : clock_(clock), forward_(std::move(forward)) {
  // A manual clock moves by hand: delayed requests must look at it again.
  clockListener_ = clock_.addAdvanceListener([this] { wakeAll(); });
}

FaultInjector::~FaultInjector() {
  clock_.removeAdvanceListener(clockListener_);
  shutDown();
}

FaultRule FaultInjector::add(FaultRule rule) {
  std::lock_guard lock(mutex_);
  rule.id = nextId_++;
  rules_[rule.id] = Entry{rule, 0, {}};
  return rule;
}

void FaultInjector::Entry::releaseAll() const {
  for (const auto& request : held)
    request->release();
}

bool FaultInjector::remove(std::int64_t id) {
  std::lock_guard lock(mutex_);
  auto found = rules_.find(id);
  if (found == rules_.end())
    return false;
  found->second.releaseAll();
  rules_.erase(found);
  return true;
}

void FaultInjector::clear() {
  std::lock_guard lock(mutex_);
  for (const auto& [id, entry] : rules_)
    entry.releaseAll();
  rules_.clear();
}

nlohmann::json FaultInjector::describeLocked(const Entry& entry) const {
  nlohmann::json json = entry.rule.toJson();
  json["Hits"] = entry.hits;
  json["Held"] = entry.held.size();
  return json;
}

nlohmann::json FaultInjector::list() const {
  std::lock_guard lock(mutex_);
  nlohmann::json rules = nlohmann::json::array();
  for (const auto& [id, entry] : rules_)
    rules.push_back(describeLocked(entry));
  return rules;
}

std::optional<nlohmann::json> FaultInjector::describe(std::int64_t id) const {
  std::lock_guard lock(mutex_);
  auto found = rules_.find(id);
  return found == rules_.end() ? std::nullopt : std::optional(describeLocked(found->second));
}

bool FaultInjector::release(std::int64_t id) {
  std::lock_guard lock(mutex_);
  auto found = rules_.find(id);
  if (found == rules_.end())
    return false;
  found->second.releaseAll();
  return true;
}

std::optional<nlohmann::json> FaultInjector::waitFor(std::int64_t id, std::optional<std::int64_t> held,
                                                     std::int64_t hits, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  auto reached = [&] {
    auto found = rules_.find(id);
    return found == rules_.end() ||
           ((!held || static_cast<std::int64_t>(found->second.held.size()) == *held) && found->second.hits >= hits);
  };
  // Real time on purpose: this bounds how long a test waits for the service,
  // whatever clock the service runs on.
  if (!changed_.wait_for(lock, timeout, reached))
    return std::nullopt;
  auto found = rules_.find(id);
  return found == rules_.end() ? std::nullopt : std::optional(describeLocked(found->second));
}

void FaultInjector::shutDown() {
  std::lock_guard lock(mutex_);
  stopping_ = true;
  for (const auto& [id, entry] : rules_)
    entry.releaseAll();
}

void FaultInjector::wakeAll() {
  std::lock_guard lock(mutex_);
  for (auto& [id, entry] : rules_) {
    for (const auto& held : entry.held)
      held->wake();
  }
}

std::optional<FaultRule> FaultInjector::claim(const std::string& host, const std::string& method,
                                              const std::string& path) {
  std::optional<FaultRule> claimed;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, entry] : rules_) {
      const bool exhausted = entry.rule.times && entry.hits >= *entry.rule.times;
      if (!exhausted && entry.rule.matches(host, method, path)) {
        ++entry.hits;
        claimed = entry.rule;
        break;
      }
    }
  }
  if (claimed)
    changed_.notify_all();
  return claimed;
}

bool FaultInjector::hold(const httplib::Request& request, const FaultRule& rule) {
  return holdConnection(request.ssl != nullptr ? SSL_get_fd(request.ssl) : -1, rule);
}

bool FaultInjector::holdConnection(int fd, const FaultRule& rule) {
  auto held = std::make_shared<HeldRequest>(fd);
  // The delay counts from before the request shows as held: whoever sees it
  // held and moves the clock must find the deadline already fixed.
  std::optional<Clock::SteadyTime> deadline;
  if (rule.delay)
    deadline = clock_.steadyNow() + *rule.delay;
  {
    std::lock_guard lock(mutex_);
    auto entry = rules_.find(rule.id);
    if (stopping_)
      return false;
    if (entry == rules_.end()) // removed since it was claimed: nothing to wait for
      return true;
    entry->second.held.insert(held);
  }
  changed_.notify_all();
  const HoldEnd end = held->wait(clock_, deadline);
  bool stopping = false;
  {
    std::lock_guard lock(mutex_);
    if (auto entry = rules_.find(rule.id); entry != rules_.end())
      entry->second.held.erase(held);
    stopping = stopping_;
  }
  changed_.notify_all();
  return end != HoldEnd::Disconnected && !stopping;
}

bool FaultInjector::beforeHandling(const httplib::Request& request, const std::string& host,
                                   httplib::Response& response) {
  std::optional<FaultRule> rule = claim(host, request.method, request.path);
  if (!rule)
    return false;
  if ((rule->delay || rule->stall) && !hold(request, *rule)) {
    // Nobody reads this reply when the client is gone; a stopping server sends it.
    replyMessage(response, 503, "The service is stopping");
    return true;
  }
  if (rule->status) {
    response.status = *rule->status;
    response.set_content(rule->body, rule->contentType);
  } else if (rule->dropAfterBytes || rule->stallAfterBytes) {
    forward_(request, response, host);
  } else {
    return false; // delayed or stalled only: the service answers as usual
  }
  if (rule->dropAfterBytes)
    cutBody(response, *rule->dropAfterBytes);
  if (rule->stallAfterBytes) {
    // The reply is written after this returns, on the same worker, while the
    // connection is still the request's.
    const int fd = request.ssl != nullptr ? SSL_get_fd(request.ssl) : -1;
    pauseBody(response, *rule->stallAfterBytes, [this, fd, held = *rule] { return holdConnection(fd, held); });
  }
  return true;
}

void cutBody(httplib::Response& response, std::int64_t bytes) {
  pauseBody(response, bytes, [] { return false; });
}

void pauseBody(httplib::Response& response, std::int64_t bytes, std::function<bool()> reached) {
  const auto limit = static_cast<std::size_t>(bytes);
  // Whether the limit was passed; shared by the provider's calls.
  struct Pause {
    std::function<bool()> reached;
    bool passed = false;
    // At the limit: asks once whether to go on.
    bool goOn(std::size_t offset, std::size_t limit) {
      if (offset >= limit && !passed) {
        if (!reached())
          return false;
        passed = true;
      }
      return true;
    }
  };
  auto pause = std::make_shared<Pause>(Pause{std::move(reached)});
  const std::string contentType = response.get_header_value("Content-Type");
  // set_content_provider adds its own Content-Type.
  response.headers.erase("Content-Type");
  if (!response.content_provider_) {
    auto body = std::make_shared<std::string>(std::move(response.body));
    response.body.clear();
    if (limit >= body->size()) {
      response.set_content(*body, contentType);
      return;
    }
    response.set_content_provider(body->size(), contentType,
                                  [body, limit, pause](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                    if (!pause->goOn(offset, limit))
                                      return false; // ends the connection
                                    const std::size_t end = pause->passed ? body->size() : limit;
                                    return sink.write(body->data() + offset, end - offset);
                                  });
    return;
  }
  // A streamed reply: its provider writes through a sink that stops at the limit.
  auto inner = std::move(response.content_provider_);
  auto releaser = std::move(response.content_provider_resource_releaser_);
  const std::size_t length = response.content_length_;
  response.set_content_provider(
      length, contentType,
      [inner, limit, pause](std::size_t offset, std::size_t remaining, httplib::DataSink& sink) {
        if (!pause->goOn(offset, limit))
          return false;
        if (pause->passed)
          return inner(offset, remaining, sink);
        std::size_t sent = offset;
        httplib::DataSink cut;
        cut.write = [&](const char* data, std::size_t size) {
          const std::size_t allowed = std::min(size, limit - sent);
          if (allowed > 0 && !sink.write(data, allowed))
            return false;
          sent += allowed;
          return allowed == size;
        };
        cut.is_writable = sink.is_writable;
        cut.done = sink.done;
        const bool wrote = inner(offset, remaining, cut);
        // Stopped at the limit by the cut: the next call decides.
        return wrote || sent >= limit;
      },
      std::move(releaser));
}

} // namespace orvex::service
