// What every wire record offers: reading from JSON text or from an already
// parsed JSON object, and writing to either. A record type derives from
// WireRecord<itself> and defines, from its member table (WireMapping.h),
//   static constexpr std::string_view kWireName;   // for error texts
//   static bool readWire(const nlohmann::json& object, T& into, WireReader& reader);
//   void writeWire(nlohmann::json& object) const;
// Reading never throws: bad input from the service comes back as a WireError.
#pragma once

#include "Sync/WireReader.h"
#include "Sync/WireResult.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace orvex {

namespace wire_detail {
// Parses UTF-8 JSON text; on failure leaves `error` saying why. Never throws.
bool parseJSONText(std::string_view text, nlohmann::json& out, std::string& error);
// Compact JSON text; text members that are not valid UTF-8 get U+FFFD instead of throwing.
std::string writeJSONText(const nlohmann::json& object);
} // namespace wire_detail

template <class T>
struct WireRecord {
  static WireResult<T> fromJSONText(std::string_view text) {
    nlohmann::json object;
    std::string error;
    if (!wire_detail::parseJSONText(text, object, error)) {
      return WireError{std::string(T::kWireName) + ": invalid JSON: " + error};
    }
    return fromJSONObject(object);
  }

  static WireResult<T> fromJSONObject(const nlohmann::json& object) {
    if (!object.is_object()) {
      return WireError{std::string(T::kWireName) + ": expected a JSON object"};
    }
    T record;
    WireReader reader;
    try {
      if (T::readWire(object, record, reader) && !reader.failed()) {
        return record;
      }
    } catch (const std::exception& e) { // only allocation failures can get here
      return WireError{std::string(T::kWireName) + ": " + e.what()};
    }
    return WireError{reader.errorText(T::kWireName)};
  }

  nlohmann::json toJSONObject() const {
    nlohmann::json object = nlohmann::json::object();
    static_cast<const T&>(*this).writeWire(object);
    return object;
  }

  std::string toJSONText() const { return wire_detail::writeJSONText(toJSONObject()); }

  // Lets each record default its own operator== member by member.
  friend constexpr bool operator==(const WireRecord&, const WireRecord&) = default;
};

} // namespace orvex
