#include "Dispatch/NotificationCenter.h"

#include <atomic>
#include <utility>
#include <vector>

namespace orvex {

NotificationCenter::ObserverId NotificationCenter::addObserver(const std::string& name, SerialQueue& queue,
                                                               Handler handler) {
  return add({name, [&queue](std::function<void()> job) { queue.async(std::move(job)); }, std::move(handler),
              std::make_shared<std::atomic<bool>>(true)});
}

NotificationCenter::ObserverId NotificationCenter::addObserver(const std::string& name, MainQueue& queue,
                                                               Handler handler) {
  return add({name, [&queue](std::function<void()> job) { queue.async(std::move(job)); }, std::move(handler),
              std::make_shared<std::atomic<bool>>(true)});
}

NotificationCenter::ObserverId NotificationCenter::add(Observer observer) {
  const std::lock_guard lock(mutex_);
  const auto id = nextId_++;
  observers_.emplace(id, std::move(observer));
  return id;
}

void NotificationCenter::removeObserver(ObserverId id) {
  const std::lock_guard lock(mutex_);
  if (auto found = observers_.find(id); found != observers_.end()) {
    found->second.active->store(false);
    observers_.erase(found);
  }
}

void NotificationCenter::post(const std::string& name, const void* sender, NotificationUserInfo userInfo) {
  std::vector<Observer> targets;
  {
    const std::lock_guard lock(mutex_);
    for (const auto& [id, observer] : observers_) {
      if (observer.name == name) {
        targets.push_back(observer);
      }
    }
  }
  if (targets.empty()) {
    return;
  }
  // One copy shared by every observer: a file record in the details may be large.
  auto notification = std::make_shared<const Notification>(Notification{name, sender, std::move(userInfo)});
  for (auto& target : targets) {
    target.postJob([notification, handler = std::move(target.handler), active = target.active] {
      if (active->load()) {
        handler(*notification);
      }
    });
  }
}

} // namespace orvex
