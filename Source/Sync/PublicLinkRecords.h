// Records of public links: the request that creates one and its reply.
// Member names are the JSON keys, letter for letter.
//
// Plain values: no shared state, safe to copy between threads.
#pragma once

#include "Sync/WireRecord.h"

#include <cstdint>
#include <optional>
#include <string>

namespace orvex {

struct OVNewAPICreatePublicLink : WireRecord<OVNewAPICreatePublicLink> {
  std::optional<std::string> ShareId;
  std::optional<std::string> InternalName;
  std::int32_t DaysToExpire = 0;
  std::int32_t MaxUse = 0;
  std::optional<std::string> Message;
  bool EnablePassword = false;
  std::optional<std::string> Password;

  static constexpr std::string_view kWireName = "OVNewAPICreatePublicLink";
  static bool readWire(const nlohmann::json& object, OVNewAPICreatePublicLink& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const OVNewAPICreatePublicLink&, const OVNewAPICreatePublicLink&) = default;
};

struct OVNewAPICreatePublicLinkResponceData : WireRecord<OVNewAPICreatePublicLinkResponceData> {
  std::optional<std::string> FullLink; // the complete public address

  static constexpr std::string_view kWireName = "OVNewAPICreatePublicLinkResponceData";
  static bool readWire(const nlohmann::json& object, OVNewAPICreatePublicLinkResponceData& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const OVNewAPICreatePublicLinkResponceData&,
                         const OVNewAPICreatePublicLinkResponceData&) = default;
};

struct OVNewAPICreatePublicLinkResponce : WireRecord<OVNewAPICreatePublicLinkResponce> {
  std::optional<OVNewAPICreatePublicLinkResponceData> Data;
  std::optional<std::string> Message; // logged on failure

  static constexpr std::string_view kWireName = "OVNewAPICreatePublicLinkResponce";
  static bool readWire(const nlohmann::json& object, OVNewAPICreatePublicLinkResponce& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const OVNewAPICreatePublicLinkResponce&, const OVNewAPICreatePublicLinkResponce&) = default;
};

} // namespace orvex
