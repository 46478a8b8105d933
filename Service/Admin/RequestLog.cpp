#include "Admin/RequestLog.h"

#include "Api/Replies.h"

#include <httplib.h>

#include <algorithm>

namespace orvex::service {
namespace {

std::optional<std::string> header(const httplib::Request& request, const char* name) {
  if (!request.has_header(name))
    return std::nullopt;
  return request.get_header_value(name);
}

// The placeholder of a path segment that follows `collection`, if that names ids.
const char* placeholderAfter(const std::string& collection, bool inShare) {
  if (collection == "shares")
    return "{ShareId}";
  if (collection == "files" && inShare)
    return "{Id}";
  if (collection == "uploads")
    return "{Address}";
  if (collection == "l")
    return "{LinkId}";
  return nullptr;
}

} // namespace

nlohmann::json LoggedRequest::toJson() const {
  nlohmann::json json{
      {"Sequence", sequence},           {"Method", method},        {"Host", host}, {"Path", path}, {"Query", query},
      {"Authorization", authorization}, {"BodyLength", bodyLength}};
  json["ContentType"] = contentType ? nlohmann::json(*contentType) : nlohmann::json();
  json["ContentRange"] = contentRange ? nlohmann::json(*contentRange) : nlohmann::json();
  json["Status"] = status ? nlohmann::json(*status) : nlohmann::json();
  return json;
}

std::string endpointOf(const std::string& path) {
  std::string endpoint;
  const std::vector<std::string> segments = pathSegments(path);
  bool inShare = false;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const char* placeholder = i > 0 ? placeholderAfter(segments[i - 1], inShare) : nullptr;
    endpoint += "/" + (placeholder != nullptr ? std::string(placeholder) : segments[i]);
    inShare = inShare || segments[i] == "shares";
  }
  return endpoint.empty() ? "/" : endpoint;
}

RequestLog::RequestLog(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

bool RequestLog::beforeHandling(const httplib::Request& request, const std::string& host, httplib::Response&) {
  LoggedRequest entry;
  entry.method = request.method;
  entry.host = host;
  entry.path = request.path;
  entry.query = rawQuery(request);
  entry.authorization = request.has_header("Authorization");
  entry.contentType = header(request, "Content-Type");
  entry.contentRange = header(request, "Content-Range");
  entry.bodyLength = request.body.size();
  std::lock_guard lock(mutex_);
  entry.sequence = nextSequence_++;
  open_[&request] = entry.sequence;
  entries_.push_back(std::move(entry));
  if (entries_.size() > capacity_)
    entries_.pop_front();
  return false;
}

void RequestLog::afterHandling(const httplib::Request& request, const std::string& host,
                               const httplib::Response& response) {
  std::lock_guard lock(mutex_);
  Counter& counter = counters_[{request.method, host, endpointOf(request.path)}];
  ++counter.count;
  ++counter.statuses[response.status];
  auto open = open_.find(&request);
  if (open == open_.end())
    return;
  const std::int64_t sequence = open->second;
  open_.erase(open);
  auto entry = std::lower_bound(entries_.begin(), entries_.end(), sequence,
                                [](const LoggedRequest& e, std::int64_t s) { return e.sequence < s; });
  if (entry != entries_.end() && entry->sequence == sequence) // else dropped or cleared meanwhile
    entry->status = response.status;
}

nlohmann::json RequestLog::entriesAfter(std::int64_t sequence) const {
  std::lock_guard lock(mutex_);
  nlohmann::json list = nlohmann::json::array();
  for (const LoggedRequest& entry : entries_) {
    if (entry.sequence > sequence)
      list.push_back(entry.toJson());
  }
  return list;
}

nlohmann::json RequestLog::counters() const {
  std::lock_guard lock(mutex_);
  nlohmann::json list = nlohmann::json::array();
  for (const auto& [key, counter] : counters_) {
    nlohmann::json statuses = nlohmann::json::object();
    for (const auto& [status, count] : counter.statuses)
      statuses[std::to_string(status)] = count;
    const auto& [method, host, endpoint] = key;
    list.push_back(
        {{"Method", method}, {"Host", host}, {"Endpoint", endpoint}, {"Count", counter.count}, {"Statuses", statuses}});
  }
  return list;
}

void RequestLog::clearEntries() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

void RequestLog::clearCounters() {
  std::lock_guard lock(mutex_);
  counters_.clear();
}

} // namespace orvex::service
