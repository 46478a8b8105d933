// Records of the real-time channel: the envelope framing every message in both
// directions, and the payloads the client sends or reads inside its
// "Message" text. Member names are the JSON keys, letter for letter.
//
// Plain values: no shared state, safe to copy between threads.
#pragma once

#include "Sync/OVDate.h"
#include "Sync/OVVirtualFile.h"
#include "Sync/WireNumber.h"
#include "Sync/WireRecord.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

// Envelope.MessageType values; any other value is an unsupported kind.
enum class MessageType : std::int32_t {
  Journal = 0,
  MOnline = 2,   // payload ClientInfo
  BroadCast = 3, // payload ClientJournalEvent
  ShareAdded = 8,
  ShareRemoved = 9,
  DomainEvent = 12, // payload DomainEvent
};

// ClientInfo.ClientType of this client.
inline constexpr std::int32_t kClientType = 2;

struct Envelope : WireRecord<Envelope> {
  std::int32_t MessageType = 0;
  std::optional<std::string> RnaReciver;
  std::optional<std::string> RnaSender; // for domain events: the domain the event is about
  OVDate SendTime{};
  OVDate ReSendTime{};
  std::int32_t ReSendInterval = 0;
  std::int32_t ReSendCount = 0;
  std::string Message; // JSON text of the payload that MessageType names
  std::int32_t Origin = 0;
  std::string ChannelId;

  static constexpr std::string_view kWireName = "Envelope";
  static bool readWire(const nlohmann::json& object, Envelope& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const Envelope&, const Envelope&) = default;
};

struct DomainFilecaches : WireRecord<DomainFilecaches> {
  std::optional<std::string> CurrentFilecache;
  std::optional<WireNumber> LastUsedTick; // tick time
  std::optional<std::vector<std::string>> FilecacheList;

  static constexpr std::string_view kWireName = "DomainFilecaches";
  static bool readWire(const nlohmann::json& object, DomainFilecaches& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const DomainFilecaches&, const DomainFilecaches&) = default;
};

struct ClientInfo : WireRecord<ClientInfo> {
  std::string ClientName;
  std::int32_t ClientType = 0;
  std::optional<std::string> ConnectionId;
  std::optional<std::string> TransportMethod;
  std::optional<std::vector<std::string>> ShareList;
  std::optional<std::vector<nlohmann::json>> GroupList; // element kind not fixed; kept as received
  std::optional<WireNumber> RemainingSize;
  std::optional<WireNumber> ReservedSize;
  std::optional<WireNumber> LargestSize;
  std::string ConnectionUrl;
  std::string UserId;
  std::optional<std::map<std::string, ::orvex::DomainFilecaches>> DomainFilecaches; // by domain name

  static constexpr std::string_view kWireName = "ClientInfo";
  static bool readWire(const nlohmann::json& object, ClientInfo& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const ClientInfo&, const ClientInfo&) = default;
};

struct ClientJournalEvent : WireRecord<ClientJournalEvent> {
  std::optional<std::string> TransmitId;
  std::optional<std::string> UserOrigin;
  std::optional<WireNumber> clientJournalEventType; // lower-case first letter on this record
  std::optional<std::string> VShare;
  std::optional<std::string> ShareId;
  std::int32_t ShareTick = 0; // the share's journal tick after this change
  std::int32_t TransmitCounter = 0;
  std::optional<OVDate> TransmitTimeout;
  std::int32_t CreateTick = 0;
  std::optional<OVVirtualFile> OvVirtualFile; // the node after the change

  static constexpr std::string_view kWireName = "ClientJournalEvent";
  static bool readWire(const nlohmann::json& object, ClientJournalEvent& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const ClientJournalEvent&, const ClientJournalEvent&) = default;
};

struct DomainEvent : WireRecord<DomainEvent> {
  std::int32_t DomainEventType = 0;
  std::optional<std::string> Update;
  std::optional<std::string> Company;
  std::optional<std::string> Delete;
  std::optional<std::string> New;

  static constexpr std::string_view kWireName = "DomainEvent";
  static bool readWire(const nlohmann::json& object, DomainEvent& into, WireReader& reader);
  void writeWire(nlohmann::json& object) const;
  friend bool operator==(const DomainEvent&, const DomainEvent&) = default;
};

} // namespace orvex
