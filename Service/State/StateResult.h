// The outcome of a state operation: its value, or the refusal a client gets,
// already in the terms of the reply (HTTP status, the reply's "Code", the
// lock holder, the server's upload position).
#pragma once

#include "Sync/OVVirtualFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace orvex::service {

// The reply codes clients act on.
inline constexpr int kCodeWrongPosition = 16; // a chunk not at the server's position
inline constexpr int kCodeUnknownNode = 17;   // the node (or its parent) is not known

struct StateError {
  int status = 400;
  std::optional<int> code;
  std::string message;
  std::optional<FileLock> lock;                // 423: who holds the lock
  std::optional<std::int64_t> currentPosition; // 400/16: where the server stands
  std::optional<std::int64_t> expectedLength;  // 400/16: what it expects in total

  static StateError make(int status, std::optional<int> code, std::string message) {
    StateError error;
    error.status = status;
    error.code = code;
    error.message = std::move(message);
    return error;
  }
  static StateError badRequest(std::string message) { return make(400, std::nullopt, std::move(message)); }
  static StateError unknownNode(std::string message) { return make(400, kCodeUnknownNode, std::move(message)); }
  static StateError forbidden(std::string message) { return make(403, std::nullopt, std::move(message)); }
  static StateError notFound(std::string message) { return make(404, std::nullopt, std::move(message)); }
  static StateError conflict(std::string message) { return make(409, std::nullopt, std::move(message)); }
  static StateError internal(std::string message) { return make(500, std::nullopt, std::move(message)); }
  static StateError locked(FileLock lock) {
    StateError error = make(423, std::nullopt, "The file is locked by " + lock.LockedBy.value_or("another user"));
    error.lock = std::move(lock);
    return error;
  }
};

template <class T>
class StateResult {
 public:
  StateResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}          // NOLINT: implicit by design
  StateResult(StateError error) : state_(std::in_place_index<1>, std::move(error)) {} // NOLINT

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const T& operator*() const& { return value(); }
  T& operator*() & { return value(); }
  const T* operator->() const { return &value(); }
  T* operator->() { return &value(); }
  // Only valid when !ok().
  const StateError& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, StateError> state_;
};

} // namespace orvex::service
