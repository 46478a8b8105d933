// The generic mapping between wire records and JSON objects. Each record
// declares its members once, in a table in its .cpp file:
//
//   constexpr auto kMembers = std::tuple{
//       opt("ShareId", &OVVirtualFile::ShareId),  // may be absent or null
//       req("Tick", &OVVirtualFile::Tick),        // must be present and not null
//   };
//
// and readMembers/writeMembers do the rest. The key is the JSON key, letter for
// letter; the kind of a member (text, int, int64, bool, number, date, record,
// list, map) follows from its C++ type through Codec<>; whether it is
// optional follows from std::optional, and req/opt check at compile time that
// the table says the same. Include this header only from record sources.
//
// Rules, the same for every record:
// - reading: keys that name no member are ignored; a required member that is
//   absent or null, or any member of the wrong kind, fails the record and
//   every record around it, and the reader names the key with its path; an
//   unreadable date text is not a failure (it reads as the distant past);
// - writing: optional members without a value are left out; required ones
//   (all int, int64 and bool members among them) are always written.
#pragma once

#include "Sync/OVDate.h"
#include "Sync/WireDateFormat.h"
#include "Sync/WireNumber.h"
#include "Sync/WireReader.h"
#include "Sync/WireRecord.h"

#include <nlohmann/json.hpp>

#include <concepts>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace orvex::wire {

using json = nlohmann::json;

// How one kind of value is read from and written to JSON. `read` reports a
// mismatch to the reader and returns false; it never throws on bad input.
template <class V>
struct Codec;

template <class V>
concept WireKind = requires(const json& j, V& v, WireReader& r) {
  { Codec<V>::read(j, v, r) } -> std::same_as<bool>;
  { Codec<V>::write(std::as_const(v)) } -> std::same_as<json>;
};

template <>
struct Codec<std::string> {
  static bool read(const json& j, std::string& out, WireReader& r) {
    if (!j.is_string()) {
      r.wrongType("text");
      return false;
    }
    out = j.get_ref<const std::string&>();
    return true;
  }
  static json write(const std::string& value) { return value; }
};

// Integers must arrive as JSON integers within the member's range: a real
// number or an out-of-range value is a type mismatch, never a silent wrap.
template <class Int>
requires(std::same_as<Int, std::int32_t> || std::same_as<Int, std::int64_t>) struct Codec<Int> {
  static bool read(const json& j, Int& out, WireReader& r) {
    constexpr auto kMax = std::numeric_limits<Int>::max();
    constexpr auto kMin = std::numeric_limits<Int>::min();
    if (j.is_number_unsigned() && j.get<std::uint64_t>() <= static_cast<std::uint64_t>(kMax)) {
      out = static_cast<Int>(j.get<std::uint64_t>());
      return true;
    }
    if (j.is_number_integer() && !j.is_number_unsigned() && j.get<std::int64_t>() >= kMin &&
        j.get<std::int64_t>() <= kMax) {
      out = static_cast<Int>(j.get<std::int64_t>());
      return true;
    }
    r.wrongType(sizeof(Int) == 4 ? "int, a 32-bit integer" : "int64, a 64-bit integer");
    return false;
  }
  static json write(Int value) { return value; }
};

template <>
struct Codec<bool> {
  static bool read(const json& j, bool& out, WireReader& r) {
    if (!j.is_boolean()) {
      r.wrongType("bool, true or false");
      return false;
    }
    out = j.get<bool>();
    return true;
  }
  static json write(bool value) { return value; }
};

template <>
struct Codec<WireNumber> {
  static bool read(const json& j, WireNumber& out, WireReader& r) {
    if (j.is_number_unsigned()) {
      out = WireNumber(j.get<std::uint64_t>()); // all bits set becomes -1
    } else if (j.is_number_integer()) {
      out = WireNumber(j.get<std::int64_t>());
    } else if (j.is_number_float()) {
      out = WireNumber(j.get<double>());
    } else {
      r.wrongType("number");
      return false;
    }
    return true;
  }
  static json write(const WireNumber& value) {
    return value.isInteger() ? json(value.asInt64()) : json(value.asDouble());
  }
};

// A date must be a JSON text; what the text says is the date reader's business,
// and an unreadable text becomes the distant past rather than a failure.
template <>
struct Codec<OVDate> {
  static bool read(const json& j, OVDate& out, WireReader& r) {
    if (!j.is_string()) {
      r.wrongType("date text");
      return false;
    }
    out = NSDateFromNSString(j.get_ref<const std::string&>());
    return true;
  }
  static json write(OVDate value) { return JSONObjectFromNSDate(value); }
};

// Elements of lists whose element kind is not fixed (kept as received). The
// depth bound keeps a hostile reply from overflowing the stack when such a
// value is later copied or written, both of which recurse.
template <>
struct Codec<json> {
  static constexpr std::size_t kMaxDepth = 64;
  static bool read(const json& j, json& out, WireReader& r);
  static json write(const json& value) { return value; }
};

template <class Record>
requires std::derived_from<Record, WireRecord<Record>>
struct Codec<Record> {
  static bool read(const json& j, Record& out, WireReader& r) {
    if (!j.is_object()) {
      r.wrongType(std::string(Record::kWireName) + " object");
      return false;
    }
    return Record::readWire(j, out, r);
  }
  static json write(const Record& value) { return value.toJSONObject(); }
};

// Lists keep reading after a bad element so that the error names every one.
template <class Element>
struct Codec<std::vector<Element>> {
  static bool read(const json& j, std::vector<Element>& out, WireReader& r) {
    if (!j.is_array()) {
      r.wrongType("list");
      return false;
    }
    out.clear();
    out.reserve(j.size());
    bool ok = true;
    for (std::size_t i = 0; i < j.size(); ++i) {
      r.enterIndex(i);
      ok = Codec<Element>::read(j[i], out.emplace_back(), r) && ok;
      r.leave();
    }
    return ok;
  }
  static json write(const std::vector<Element>& values) {
    json array = json::array();
    for (const Element& value : values) {
      array.push_back(Codec<Element>::write(value));
    }
    return array;
  }
};

template <class Element>
struct Codec<std::map<std::string, Element>> {
  static bool read(const json& j, std::map<std::string, Element>& out, WireReader& r) {
    if (!j.is_object()) {
      r.wrongType("map object");
      return false;
    }
    out.clear();
    bool ok = true;
    for (const auto& [key, value] : j.items()) {
      r.enterMapKey(key);
      ok = Codec<Element>::read(value, out[key], r) && ok;
      r.leave();
    }
    return ok;
  }
  static json write(const std::map<std::string, Element>& values) {
    json object = json::object();
    for (const auto& [key, value] : values) {
      object[key] = Codec<Element>::write(value);
    }
    return object;
  }
};

// One row of a member table: the JSON key and the member it maps to.
template <class Record, class Value>
struct Member {
  std::string_view key;
  Value Record::*field;
};

template <class T>
inline constexpr bool kIsOptional = false;
template <class T>
inline constexpr bool kIsOptional<std::optional<T>> = true;

// A member that must be present and not null.
template <class Record, class Value>
consteval Member<Record, Value> req(std::string_view key, Value Record::*field) {
  static_assert(!kIsOptional<Value>, "a required member is a plain value, not std::optional");
  static_assert(WireKind<Value>, "no Codec for this member's type");
  return {key, field};
}

// A member that may be absent or null, and then has no value.
template <class Record, class Value>
consteval Member<Record, std::optional<Value>> opt(std::string_view key, std::optional<Value> Record::*field) {
  static_assert(!std::same_as<Value, std::int32_t> && !std::same_as<Value, std::int64_t> && !std::same_as<Value, bool>,
                "int, int64 and bool members are always required");
  static_assert(WireKind<Value>, "no Codec for this member's type");
  return {key, field};
}

template <class Record, class Value>
bool readMember(const json& object, Record& record, const Member<Record, Value>& member, WireReader& r) {
  const auto found = object.find(member.key);
  const json* value = (found == object.end() || found->is_null()) ? nullptr : &*found;
  if constexpr (kIsOptional<Value>) {
    auto& destination = record.*member.field;
    destination.reset();
    if (value == nullptr) {
      return true;
    }
    typename Value::value_type read{};
    r.enterKey(member.key);
    const bool ok = Codec<typename Value::value_type>::read(*value, read, r);
    r.leave();
    if (ok) {
      destination = std::move(read);
    }
    return ok;
  } else {
    if (value == nullptr) {
      r.missing(member.key);
      return false;
    }
    r.enterKey(member.key);
    const bool ok = Codec<Value>::read(*value, record.*member.field, r);
    r.leave();
    return ok;
  }
}

template <class Record, class Value>
void writeMember(const Record& record, const Member<Record, Value>& member, json& object) {
  const auto& value = record.*member.field;
  if constexpr (kIsOptional<Value>) {
    if (value.has_value()) {
      object[std::string(member.key)] = Codec<typename Value::value_type>::write(*value);
    }
  } else {
    object[std::string(member.key)] = Codec<Value>::write(value);
  }
}

// Reads every member of the table; false when any required member is missing
// or any member has the wrong kind (all of them are reported to `r`).
template <class Record, class... Values>
bool readMembers(const json& object, Record& record, const std::tuple<Member<Record, Values>...>& members,
                 WireReader& r) {
  return std::apply(
      [&](const auto&... member) {
        bool ok = true;
        ((ok = readMember(object, record, member, r) && ok), ...);
        return ok;
      },
      members);
}

template <class Record, class... Values>
void writeMembers(const Record& record, const std::tuple<Member<Record, Values>...>& members, json& object) {
  std::apply([&](const auto&... member) { (writeMember(record, member, object), ...); }, members);
}

} // namespace orvex::wire
