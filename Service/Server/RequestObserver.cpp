#include "Server/RequestObserver.h"

#include <httplib.h>

#include <algorithm>

namespace orvex::service {

void RequestObservers::add(std::shared_ptr<RequestObserver> observer) {
  std::lock_guard lock(mutex_);
  observers_.push_back(std::move(observer));
}

void RequestObservers::remove(const std::shared_ptr<RequestObserver>& observer) {
  std::lock_guard lock(mutex_);
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

std::vector<std::shared_ptr<RequestObserver>> RequestObservers::snapshot() const {
  std::lock_guard lock(mutex_);
  return observers_;
}

bool RequestObservers::beforeHandling(const httplib::Request& request, const std::string& host,
                                      httplib::Response& response) const {
  for (const auto& observer : snapshot()) {
    if (observer->beforeHandling(request, host, response))
      return true;
  }
  return false;
}

void RequestObservers::afterHandling(const httplib::Request& request, const std::string& host,
                                     const httplib::Response& response) const {
  for (const auto& observer : snapshot())
    observer->afterHandling(request, host, response);
}

std::string rawQuery(const httplib::Request& request) {
  std::size_t mark = request.target.find('?');
  return mark == std::string::npos ? std::string() : request.target.substr(mark + 1);
}

} // namespace orvex::service
