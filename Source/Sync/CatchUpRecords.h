// The catch-up page: the nodes of one share changed after a start tick.
// Member names are the JSON keys, letter for letter.
//
// Plain values: no shared state, safe to copy between threads.
#pragma once

#include "Sync/OVVirtualFile.h"
#include "Sync/WireRecord.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace orvex {

struct OSXCatchUpResponse : WireRecord<OSXCatchUpResponse> {
  std::optional<std::vector<OVVirtualFile>> OvVirtualFiles; // at most one page
  std::int32_t ShareTick = 0;                               // the share's current tick
  std::int32_t LargestTick = 0; // largest tick of this page; the share's next LastApplyedJournalTick

  static constexpr std::string_view kWireName = "OSXCatchUpResponse";
  static bool readWire(const nlohmann::json& object, OSXCatchUpResponse& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const OSXCatchUpResponse&, const OSXCatchUpResponse&) = default;
};

} // namespace orvex
