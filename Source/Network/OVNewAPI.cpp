#include "Network/OVNewAPI.h"

#include "Network/HttpText.h"
#include "OVLogger.h"

#include <algorithm>
#include <cctype>

namespace orvex {
namespace {

bool hasSpaceOrControl(std::string_view text) {
  return std::ranges::any_of(text, [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
  });
}

// One path segment: nothing that would end it, start a query, or climb up.
bool fitsPathSegment(std::string_view value) {
  return !value.empty() && value != "." && value != ".." && !hasSpaceOrControl(value) &&
         value.find_first_of("/\\?#%") == std::string_view::npos;
}

// One query value: nothing that would end it or start another parameter.
bool fitsQueryValue(std::string_view value) {
  return !hasSpaceOrControl(value) && value.find_first_of("&#") == std::string_view::npos;
}

// The value when it fits; else nullopt and the error logged.
std::optional<std::string> checked(const std::optional<std::string>& value, bool fits, const char* what) {
  if (!value || !fits) {
    OVLog(kLogMain, "Error! Cannot build the request: {} {}", what,
          value ? "\"" + *value + "\" does not fit a URL" : "is missing");
    return std::nullopt;
  }
  return value;
}

std::optional<std::string> segment(const std::optional<std::string>& value, const char* what) {
  return checked(value, value && fitsPathSegment(*value), what);
}

} // namespace

HttpRequest OVNewAPI::newApiRequestForURL(std::string url, std::string method, std::optional<std::string> jsonBody) {
  HttpRequest request;
  request.url = std::move(url);
  request.method = std::move(method);
  request.timeout = kRequestTimeout;
  if (jsonBody) {
    request.headers.set("Content-Type", "application/json");
    request.body = std::move(jsonBody);
  }
  return request;
}

std::optional<std::string> OVNewAPI::baseURL(HostKind kind, const std::optional<std::string>& domain) const {
  auto valid = checked(domain, domain && isHostName(*domain), "domain");
  if (!valid)
    return std::nullopt;
  return "https://" +
         (kind == HostKind::FileCache ? deployment_.fileCacheHost(*valid) : deployment_.clientGatewayHost(*valid));
}

std::optional<std::string> OVNewAPI::shareFilesURL(const ManagedShare& share) const {
  auto shareId = segment(share.ShareId, "share id");
  auto base = baseURL(HostKind::FileCache, share.GateWayUrl);
  if (!shareId || !base)
    return std::nullopt;
  return *base + "/api/shares/" + *shareId + "/files";
}

std::optional<HttpRequest> OVNewAPI::newApiDownloadRequestForFile(const OVFile& file, ByteRange range,
                                                                  const ManagedShare& share) const {
  auto files = shareFilesURL(share);
  auto uploadName = segment(file.uploadName, "upload name");
  if (!files || !uploadName)
    return std::nullopt;
  HttpRequest request = newApiRequestForURL(*files + "/" + *uploadName, "GET");
  // Signed, as the server reads them; the end is one past the last byte wanted.
  const auto start = static_cast<std::int64_t>(range.location);
  const auto end = static_cast<std::int64_t>(range.location + range.length);
  request.headers.set("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(end) + "/" +
                                           std::to_string(static_cast<std::int64_t>(file.fileSize)));
  return request;
}

std::optional<HttpRequest> OVNewAPI::newApiUploadRequestForEvent(const OVNewAPIJournalEvent& event,
                                                                 const ManagedShare& share) const {
  auto files = shareFilesURL(share);
  if (!files)
    return std::nullopt;
  if (event.ClientJournalEventType == static_cast<std::int32_t>(ClientJournalEventType::Create))
    return newApiRequestForURL(*files, "POST", event);
  std::optional<std::string> internalName;
  if (event.OvVirtualFile)
    internalName = event.OvVirtualFile->InternalName;
  auto node = segment(internalName, "internal name of the event's node");
  if (!node)
    return std::nullopt;
  const bool isDelete = event.ClientJournalEventType == static_cast<std::int32_t>(ClientJournalEventType::Delete);
  return newApiRequestForURL(*files + "/" + *node, isDelete ? "DELETE" : "PUT", event);
}

std::optional<HttpRequest> OVNewAPI::newApiCreateLinkRequest(const OVNewAPICreatePublicLink& link,
                                                             const std::string& domain) const {
  auto base = baseURL(HostKind::ClientGateway, domain);
  if (!base)
    return std::nullopt;
  return newApiRequestForURL(*base + "/api/publiclinks", "POST", link);
}

std::optional<std::string> OVNewAPI::fullProfileURL(const std::string& domain) const {
  auto base = baseURL(HostKind::ClientGateway, domain);
  if (!base)
    return std::nullopt;
  return *base + "/api/client/fullprofile?tick=1&api=1&associationRequired=true";
}

std::optional<std::string> OVNewAPI::catchUpURL(const std::string& domain, const std::string& aclToken,
                                                const std::string& shareId, std::int64_t tickFrom) const {
  auto base = baseURL(HostKind::ClientGateway, domain);
  auto token = checked(aclToken, fitsQueryValue(aclToken), "share token");
  auto share = checked(shareId, !shareId.empty() && fitsQueryValue(shareId), "share id");
  if (!base || !token || !share)
    return std::nullopt;
  const std::string tick = std::to_string(tickFrom);
  return *base + "/api/client/catchup?token=" + *token + "&shareId=" + *share + "&tickfrom=" + tick +
         "&tickstart=" + tick + "&ticktake=" + std::to_string(kCatchUpPageSize);
}

std::optional<HttpRequest> OVNewAPI::fullProfileRequest(const std::string& domain) const {
  return plainGet(fullProfileURL(domain));
}

std::optional<HttpRequest> OVNewAPI::catchUpRequest(const std::string& domain, const std::string& aclToken,
                                                    const std::string& shareId, std::int64_t tickFrom) const {
  return plainGet(catchUpURL(domain, aclToken, shareId, tickFrom));
}

std::optional<HttpRequest> OVNewAPI::plainGet(std::optional<std::string> url) {
  if (!url)
    return std::nullopt;
  HttpRequest request;
  request.url = std::move(*url);
  return request;
}

} // namespace orvex
