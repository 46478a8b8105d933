// Records of journal events and uploads: the event the client posts for every
// local change, and the service's reply to an event or a chunk upload.
// Member names are the JSON keys, letter for letter (note "ClientJournalEventType"
// here against "clientJournalEventType" in the real-time ClientJournalEvent).
//
// Plain values: no shared state, safe to copy between threads.
#pragma once

#include "Sync/OVDate.h"
#include "Sync/OVVirtualFile.h"
#include "Sync/WireNumber.h"
#include "Sync/WireRecord.h"

#include <cstdint>
#include <optional>
#include <string>

namespace orvex {

// Kinds of change carried in journal events.
enum class ClientJournalEventType : std::int32_t {
  Create = 0, // a new file (first upload) or a new folder
  Delete = 1,
  Rename = 2, // name or parent changed, lock state unchanged
  Update = 3, // new contents of an existing file
  Lock = 13,
  Unlock = 14,
};

struct OVNewAPIJournalEvent : WireRecord<OVNewAPIJournalEvent> {
  std::string TransmitId; // a new lower-case GUID for every event
  std::optional<std::string> UserOrigin;
  std::int32_t ClientJournalEventType = 0;
  std::optional<OVVirtualFile> OvVirtualFile; // the node after the change
  std::string DeviceId;
  std::optional<std::string> ShareId;
  std::int32_t ShareTick = 0; // 0 when sent; in a reply, the tick the server gave the change
  std::int32_t TransmitCounter = 0;
  std::optional<OVDate> TransmitTimeout;
  std::int32_t CreateTick = 0;

  static constexpr std::string_view kWireName = "OVNewAPIJournalEvent";
  static bool readWire(const nlohmann::json& object, OVNewAPIJournalEvent& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const OVNewAPIJournalEvent&, const OVNewAPIJournalEvent&) = default;
};

struct OVNewAPIResponceData : WireRecord<OVNewAPIResponceData> {
  std::optional<OVNewAPIJournalEvent> ClientJournalEvent; // the event as the server recorded it
  std::optional<std::string> Url;                         // where the file's bytes go
  std::optional<WireNumber> CurrentPosition;              // bytes the server already holds
  std::optional<WireNumber> ExpectedLength;               // bytes the server expects in total

  static constexpr std::string_view kWireName = "OVNewAPIResponceData";
  static bool readWire(const nlohmann::json& object, OVNewAPIResponceData& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const OVNewAPIResponceData&, const OVNewAPIResponceData&) = default;
};

struct OVNewAPIResponce : WireRecord<OVNewAPIResponce> {
  std::optional<OVNewAPIResponceData> Data;
  std::optional<std::string> Message; // logged on failures
  std::optional<WireNumber> Code;

  static constexpr std::string_view kWireName = "OVNewAPIResponce";
  static bool readWire(const nlohmann::json& object, OVNewAPIResponce& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const OVNewAPIResponce&, const OVNewAPIResponce&) = default;
};

} // namespace orvex
