// One unit of work for an OperationQueue: a body, the operations it waits for,
// and a cancel flag the body polls.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace orvex {

namespace detail {
class OperationQueueCore;
}

// An operation is shared between the queue that runs it and whoever created it,
// so it is always owned by a std::shared_ptr (Operation::create, or
// std::make_shared for a subclass that overrides execute()).
//
// Life: pending -> executing -> finished, or pending -> finished when cancelled
// before it starts. A synchronous operation finishes when its body returns; an
// asynchronous one keeps its place among the queue's running operations until
// someone calls finish(), from any thread.
//
// Threads: the body runs on a worker of the queue it was added to; every public
// member may be called from any thread. state_ and cancelled_ are atomics so
// that the queries and the queue's readiness test take no lock; mutex_ guards
// the transitions of state_ and the fields marked below. Lock order: a queue's
// mutex, then an operation's mutex. No mutex is held while the body, the
// completion or another queue is called.
class Operation : public std::enable_shared_from_this<Operation> {
 public:
  using Body = std::function<void(Operation&)>;
  using Completion = std::function<void()>;

  enum class Kind { Synchronous, Asynchronous };

  explicit Operation(Body body, Kind kind = Kind::Synchronous);
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;
  virtual ~Operation() = default;

  static std::shared_ptr<Operation> create(Body body, Kind kind = Kind::Synchronous);

  // This operation starts only once `other` has finished; one cancelled before
  // it started counts as finished. Add dependencies before adding the operation
  // to a queue: one added later may come too late. Cycles never start.
  void addDependency(std::shared_ptr<Operation> other);

  // Runs once when the operation ends (body done, finish() called, or cancelled
  // before it started), on the thread that ends it, before isFinished() turns
  // true: dependants start and waiters wake only after it returned. A
  // completion set after that never runs.
  void setCompletion(Completion completion);

  // Before the start: the body never runs and the operation finishes now, on
  // this thread. While running: only sets the flag the body polls.
  void cancel();

  // Ends an asynchronous operation that has started; later calls, and calls on
  // a synchronous operation, do nothing.
  void finish();

  bool isCancelled() const { return cancelled_.load(); }
  bool isExecuting() const { return state_.load() == State::Executing; }
  bool isFinished() const { return state_.load() == State::Finished; }
  bool isAsynchronous() const { return kind_ == Kind::Asynchronous; }

  // Blocks until the operation has finished and left its queue. Never call it
  // from the operation's own body, nor for an operation no queue will run.
  void waitUntilFinished();

 protected:
  // For subclasses that override execute() instead of passing a body.
  explicit Operation(Kind kind);

  // The work, on a queue worker. The default runs the body. It must not throw:
  // an exception escaping it ends the process, as one escaping a thread does.
  virtual void execute();

 private:
  friend class detail::OperationQueueCore;

  // Finishing: ended, completion running; neither executing nor finished.
  enum class State { Pending, Executing, Finishing, Finished };

  // For the queue. attachTo() answers false when the operation has already
  // ended (or is leaving) and must not be queued.
  bool attachTo(std::weak_ptr<detail::OperationQueueCore> queue);
  bool isPending() const { return state_.load() == State::Pending; }
  bool dependenciesFinished() const;
  bool tryStart();
  void run() noexcept;

  void addDependant(std::weak_ptr<Operation> dependant);
  void dependencyFinished();
  void endFrom(State expected);
  void complete();

  // Constant after construction.
  const Kind kind_;
  const Body body_;

  std::atomic<State> state_{State::Pending}; // changed under mutex_
  std::atomic<bool> cancelled_{false};

  // State below is protected by mutex_.
  mutable std::mutex mutex_;
  std::condition_variable settledChanged_;
  std::vector<std::shared_ptr<Operation>> dependencies_; // dropped once finished
  std::vector<std::weak_ptr<Operation>> dependants_;     // told when this one finishes
  std::weak_ptr<detail::OperationQueueCore> queue_;
  bool attached_ = false;
  Completion completion_;
  bool settled_ = false; // finished and told its queue and dependants
};

} // namespace orvex
