// The service's endpoints and how the client's requests to them are built.
// Every request goes to one of the hosts of one domain: the client gateway
// (profile, catch-up, public links) or the file cache (contents and journal
// events); a host name is the deployment's label for its kind, ".", and the
// domain. Values are put into paths and queries as they are (the service's
// ids need no encoding, and the catch-up token is expected raw), but a value
// that would change the shape of the URL is refused.
#pragma once

#include "Network/HttpRequest.h"
#include "Platform/BrandFile.h"
#include "Store/OVFile.h"
#include "Sync/JournalRecords.h"
#include "Sync/ManagedShare.h"
#include "Sync/PublicLinkRecords.h"
#include "Sync/WireRecord.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace orvex {

// A span of bytes of a file: where it starts and how long it is.
struct ByteRange {
  std::uint64_t location = 0;
  std::uint64_t length = 0;
};

// Immutable after construction: every member may be called from any thread.
// The builders return nullopt, with an error logged, when the values from the
// server they need are missing or would not fit into the URL.
class OVNewAPI {
 public:
  explicit OVNewAPI(Deployment deployment) : deployment_(std::move(deployment)) {}

  static constexpr std::chrono::seconds kRequestTimeout{10};
  static constexpr int kCatchUpPageSize = 10000;

  // The general builder: `method` on `url`, a 10-second time-out, and with a
  // body its JSON text and "Content-Type" "application/json"; without a body
  // neither.
  static HttpRequest newApiRequestForURL(std::string url, std::string method,
                                         std::optional<std::string> jsonBody = std::nullopt);
  template <class Record>
  static HttpRequest newApiRequestForURL(std::string url, std::string method, const WireRecord<Record>& body) {
    return newApiRequestForURL(std::move(url), std::move(method), body.toJSONText());
  }

  // GET of `range` of the file's stored content (its uploadName) on the file
  // cache of the share's domain, with "Content-Range" "bytes start-end/size",
  // where end is start + length (one past the last byte).
  std::optional<HttpRequest> newApiDownloadRequestForFile(const OVFile& file, ByteRange range,
                                                          const ManagedShare& share) const;
  // The journal event on the file cache of the share's domain, by its type:
  // a creation is a POST to the share's files, a deletion a DELETE of the
  // node carrying the event as its body, anything else a PUT to the node.
  std::optional<HttpRequest> newApiUploadRequestForEvent(const OVNewAPIJournalEvent& event,
                                                         const ManagedShare& share) const;
  // POST of the public-link record to the client gateway of `domain`.
  std::optional<HttpRequest> newApiCreateLinkRequest(const OVNewAPICreatePublicLink& link,
                                                     const std::string& domain) const;

  // The full profile of `domain`: a plain GET, no body, the default time-out.
  std::optional<HttpRequest> fullProfileRequest(const std::string& domain) const;
  // One catch-up page of a share from `tickFrom` on (-1: from the beginning).
  std::optional<HttpRequest> catchUpRequest(const std::string& domain, const std::string& aclToken,
                                            const std::string& shareId, std::int64_t tickFrom) const;

  std::optional<std::string> fullProfileURL(const std::string& domain) const;
  std::optional<std::string> catchUpURL(const std::string& domain, const std::string& aclToken,
                                        const std::string& shareId, std::int64_t tickFrom) const;

  const Deployment& deployment() const { return deployment_; }

 private:
  enum class HostKind { ClientGateway, FileCache };
  // "https://<host of that kind>" for `domain`.
  std::optional<std::string> baseURL(HostKind kind, const std::optional<std::string>& domain) const;
  // A GET with no body and the default time-out.
  static std::optional<HttpRequest> plainGet(std::optional<std::string> url);
  // "https://<host>/api/shares/<share id>/files", for the share's domain.
  std::optional<std::string> shareFilesURL(const ManagedShare& share) const;

  const Deployment deployment_;
};

} // namespace orvex
