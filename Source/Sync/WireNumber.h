// The value of a "number" member: any JSON number, kept as the integer or the
// floating-point value it arrived as, so that writing it back gives the same
// number. Integers are held as 64-bit patterns: an unsigned value with all
// bits set (the "unknown" tick) is held, and written, as -1.
#pragma once

#include <concepts>
#include <cstdint>

namespace orvex {

class WireNumber {
 public:
  constexpr WireNumber() = default;
  // Implicit on purpose: `file.EndOfFile = size;` reads as the assignment it is.
  template <std::integral I>
  requires(!std::same_as<I, bool>) constexpr WireNumber(I value)
      : integer_(static_cast<std::int64_t>(value)) {} // NOLINT
  template <std::floating_point F>
  constexpr WireNumber(F value) : real_(static_cast<double>(value)), isReal_(true) {} // NOLINT

  constexpr bool isInteger() const { return !isReal_; }

  // Integer values as their signed 64-bit pattern; a floating-point value is
  // truncated towards zero and clamped to the 64-bit range (NaN gives 0).
  std::int64_t asInt64() const;
  // The same 64-bit pattern seen as unsigned: -1 is all bits set.
  std::uint64_t asUInt64() const { return static_cast<std::uint64_t>(asInt64()); }
  // The low 32 bits of asInt64(), as a C cast to a 32-bit integer would give.
  std::int32_t asInt32() const { return static_cast<std::int32_t>(asInt64()); }
  double asDouble() const { return isReal_ ? real_ : static_cast<double>(integer_); }

  // Same kind and same value (an integer 1 and a real 1.0 differ: they are written differently).
  friend constexpr bool operator==(const WireNumber&, const WireNumber&) = default;

 private:
  std::int64_t integer_ = 0; // when !isReal_
  double real_ = 0;          // when isReal_
  bool isReal_ = false;
};

} // namespace orvex
