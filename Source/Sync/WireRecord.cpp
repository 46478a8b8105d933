// JSON text in and out for every wire record, and the depth check for values
// kept as received.
#include "Sync/WireRecord.h"

#include "Sync/WireMapping.h"

#include <utility>
#include <vector>

namespace orvex {

namespace wire_detail {

bool parseJSONText(std::string_view text, nlohmann::json& out, std::string& error) {
  try {
    out = nlohmann::json::parse(text.begin(), text.end());
    return true;
  } catch (const nlohmann::json::exception& e) {
    error = e.what();
  } catch (const std::exception& e) {
    error = e.what();
  }
  return false;
}

std::string writeJSONText(const nlohmann::json& object) {
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace wire_detail

namespace wire {

namespace {
// Depth of nested arrays and objects, counted without recursion.
bool nestsAtMost(const json& root, std::size_t limit) {
  std::vector<std::pair<const json*, std::size_t>> pending{{&root, 1}};
  while (!pending.empty()) {
    const auto [value, depth] = pending.back();
    pending.pop_back();
    if (!value->is_structured())
      continue;
    if (depth > limit)
      return false;
    for (const json& child : *value) {
      pending.emplace_back(&child, depth + 1);
    }
  }
  return true;
}
} // namespace

bool Codec<json>::read(const json& j, json& out, WireReader& r) {
  if (!nestsAtMost(j, kMaxDepth)) {
    r.wrongType("JSON value nested at most 64 deep");
    return false;
  }
  out = j;
  return true;
}

} // namespace wire

} // namespace orvex
