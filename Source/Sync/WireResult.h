// The outcome of reading a wire record from text the service sent: the record,
// or the reason it could not be read. Reading never throws; callers log the
// reason together with the reply text and drop the reply.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace orvex {

struct WireError {
  // Names the record and every missing, null or mistyped key with its path
  // ("OvVirtualFiles[3].Tick"), or says the text is not a JSON object.
  std::string message;
};

template <class T>
class WireResult {
 public:
  WireResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}         // NOLINT: implicit by design
  WireResult(WireError error) : state_(std::in_place_index<1>, std::move(error)) {} // NOLINT

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Only valid when ok(); asking a failed result for its value throws std::bad_variant_access.
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  // The empty text when ok().
  const std::string& error() const {
    static const std::string none;
    return ok() ? none : std::get<1>(state_).message;
  }

 private:
  std::variant<T, WireError> state_;
};

} // namespace orvex
