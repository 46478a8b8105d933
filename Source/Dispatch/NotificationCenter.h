// The in-process notification centre: a poster names what happened and adds
// a dictionary of details; observers registered for that name hear of it on
// the queue they chose (the user interface on the main queue, say). Posters
// never wait for observers.
#pragma once

#include "Dispatch/MainQueue.h"
#include "Dispatch/SerialQueue.h"

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace orvex {

// Details of a notification by key. Values are whatever the poster documents
// for the name (a file record, a number, a flag); observers read them with
// std::any_cast.
using NotificationUserInfo = std::map<std::string, std::any>;

struct Notification {
  std::string name;
  const void* sender = nullptr; // for telling posters apart; never dereferenced
  NotificationUserInfo userInfo;
};

// Thread-safe: post, addObserver and removeObserver may be called from any
// thread, observers' handlers included. observers_ is guarded by mutex_, which
// is never held while a handler runs or a job is posted to a queue. Once
// removeObserver has returned, the observer's handler does not start again,
// even for notifications already on their way. A queue named by an observer
// must outlive its registration.
class NotificationCenter {
 public:
  using ObserverId = std::uint64_t;
  using Handler = std::function<void(const Notification&)>;

  NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // `handler` runs on `queue` for every notification named `name`.
  ObserverId addObserver(const std::string& name, SerialQueue& queue, Handler handler);
  ObserverId addObserver(const std::string& name, MainQueue& queue, Handler handler);
  void removeObserver(ObserverId id);

  void post(const std::string& name, const void* sender, NotificationUserInfo userInfo = {});

 private:
  struct Observer {
    std::string name;
    std::function<void(std::function<void()>)> postJob;
    Handler handler;
    // Cleared by removeObserver; a job already posted checks it before it runs the handler.
    std::shared_ptr<std::atomic<bool>> active;
  };
  ObserverId add(Observer observer);

  std::mutex mutex_;
  std::map<ObserverId, Observer> observers_; // guarded by mutex_
  ObserverId nextId_ = 1;                    // guarded by mutex_
};

} // namespace orvex
