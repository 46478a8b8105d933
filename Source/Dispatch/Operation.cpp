#include "Dispatch/Operation.h"

#include "Dispatch/OperationQueueCore.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace orvex {

Operation::Operation(Body body, Kind kind) : kind_(kind), body_(std::move(body)) {}

Operation::Operation(Kind kind) : kind_(kind) {}

std::shared_ptr<Operation> Operation::create(Body body, Kind kind) {
  return std::make_shared<Operation>(std::move(body), kind);
}

void Operation::addDependency(std::shared_ptr<Operation> other) {
  if (!other || other.get() == this) {
    throw std::invalid_argument("an operation cannot depend on nothing or on itself");
  }
  // Registered first, so that `other` finishing in between still finds us.
  other->addDependant(weak_from_this());
  std::lock_guard lock(mutex_);
  if (state_.load() == State::Pending) {
    dependencies_.push_back(std::move(other));
  }
}

void Operation::addDependant(std::weak_ptr<Operation> dependant) {
  std::lock_guard lock(mutex_);
  if (!settled_) {
    dependants_.push_back(std::move(dependant));
  }
}

void Operation::setCompletion(Completion completion) {
  std::lock_guard lock(mutex_);
  completion_ = std::move(completion);
}

void Operation::cancel() {
  cancelled_.store(true);
  endFrom(State::Pending);
}

void Operation::finish() {
  if (kind_ == Kind::Asynchronous) {
    endFrom(State::Executing);
  }
}

void Operation::waitUntilFinished() {
  std::unique_lock lock(mutex_);
  settledChanged_.wait(lock, [this] { return settled_; });
}

void Operation::execute() {
  if (body_) {
    body_(*this);
  }
}

bool Operation::attachTo(std::weak_ptr<detail::OperationQueueCore> queue) {
  std::lock_guard lock(mutex_);
  if (attached_) {
    throw std::logic_error("an operation was added to a queue twice");
  }
  if (state_.load() != State::Pending) {
    return false;
  }
  attached_ = true;
  queue_ = std::move(queue);
  return true;
}

bool Operation::dependenciesFinished() const {
  std::lock_guard lock(mutex_);
  return std::all_of(dependencies_.begin(), dependencies_.end(),
                     [](const auto& dependency) { return dependency->isFinished(); });
}

bool Operation::tryStart() {
  std::lock_guard lock(mutex_);
  if (state_.load() != State::Pending) {
    return false; // cancelled since the queue looked at it
  }
  state_.store(State::Executing);
  return true;
}

void Operation::run() noexcept {
  execute();
  if (kind_ == Kind::Synchronous) {
    endFrom(State::Executing);
  }
}

void Operation::dependencyFinished() {
  std::shared_ptr<detail::OperationQueueCore> queue;
  {
    std::lock_guard lock(mutex_);
    queue = queue_.lock();
  }
  if (queue) {
    queue->dependencyFinished();
  }
}

// The one place where an operation ends: exactly one caller wins the
// transition out of `expected` and completes it.
void Operation::endFrom(State expected) {
  {
    std::lock_guard lock(mutex_);
    if (state_.load() != expected) {
      return;
    }
    state_.store(State::Finishing);
  }
  complete();
}

void Operation::complete() {
  // The queue may hold the last reference and drops it in operationFinished().
  const auto keepAlive = weak_from_this().lock();
  Completion completion;
  {
    std::lock_guard lock(mutex_);
    completion = std::move(completion_);
    completion_ = nullptr;
  }
  if (completion) {
    completion();
  }
  std::vector<std::shared_ptr<Operation>> dependencies;
  std::vector<std::weak_ptr<Operation>> dependants;
  std::shared_ptr<detail::OperationQueueCore> queue;
  {
    std::lock_guard lock(mutex_);
    state_.store(State::Finished);
    dependencies.swap(dependencies_); // no longer needed; released outside the lock
    dependants.swap(dependants_);
    queue = queue_.lock();
  }
  if (queue) {
    queue->operationFinished(*this);
  }
  for (const auto& weak : dependants) {
    if (auto dependant = weak.lock()) {
      dependant->dependencyFinished();
    }
  }
  {
    std::lock_guard lock(mutex_);
    settled_ = true;
    dependants_.clear(); // any that registered while we were notifying saw us finished
  }
  settledChanged_.notify_all();
}

} // namespace orvex
