#include "Api/FileCacheApi.h"

#include "Api/Replies.h"

#include <httplib.h>

#include <fmt/format.h>

namespace orvex::service {
namespace {

// The journal event types each method carries.
bool methodCarries(const std::string& method, std::int32_t type) {
  if (method == "POST")
    return type == static_cast<std::int32_t>(ClientJournalEventType::Create);
  if (method == "DELETE")
    return type == static_cast<std::int32_t>(ClientJournalEventType::Delete);
  return method == "PUT" && type != static_cast<std::int32_t>(ClientJournalEventType::Create) &&
         type != static_cast<std::int32_t>(ClientJournalEventType::Delete);
}

} // namespace

void FileCacheApi::handle(const httplib::Request& request, httplib::Response& response, const std::string& domain) {
  const std::vector<std::string> segments = pathSegments(request.path);
  const bool uploads = segments.size() == 3 && segments[0] == "api" && segments[1] == "uploads";
  const bool files = (segments.size() == 4 || segments.size() == 5) && segments[0] == "api" &&
                     segments[1] == "shares" && segments[3] == "files";
  const std::string& method = request.method;
  bool known = (uploads && method == "PUT") || (files && segments.size() == 4 && method == "POST") ||
               (files && segments.size() == 5 && (method == "PUT" || method == "DELETE" || method == "GET"));
  if (!known)
    return replyMessage(response, uploads || files ? 405 : 404, "No such endpoint: " + method + " " + request.path);
  std::optional<AccessClaims> claims = authorize(context_.verifier, request, response, domain);
  if (!claims)
    return;
  if (uploads)
    chunk(request, response, domain, *claims, segments[2]);
  else if (method == "GET")
    download(request, response, domain, *claims, segments[2], segments[4]);
  else
    journalEvent(request, response, domain, *claims, segments);
}

std::string FileCacheApi::uploadUrl(const std::string& domain, const std::string& address) const {
  return "https://" + context_.hosts.hostOf(HostKind::FileCache, domain) + "/api/uploads/" + address;
}

void FileCacheApi::journalEvent(const httplib::Request& request, httplib::Response& response, const std::string& domain,
                                const AccessClaims& claims, const std::vector<std::string>& segments) {
  const std::string& shareId = segments[2];
  auto share = context_.state.shareFor(claims.subject, domain, shareId);
  if (!share)
    return replyError(response, share.error());
  auto event = OVNewAPIJournalEvent::fromJSONText(request.body);
  if (!event)
    return replyError(response, StateError::badRequest("Malformed journal event: " + event.error()));
  if (!methodCarries(request.method, event->ClientJournalEventType)) {
    return replyError(response, StateError::badRequest(fmt::format("{} does not carry journal events of type {}",
                                                                   request.method, event->ClientJournalEventType)));
  }
  if (segments.size() == 5 && (!event->OvVirtualFile || event->OvVirtualFile->InternalName != segments[4]))
    return replyError(response, StateError::badRequest("The event's InternalName is not the one in the path"));
  auto outcome = context_.state.applyEvent(shareId, *event, Actor{claims.subject, event->DeviceId});
  if (!outcome)
    return replyError(response, outcome.error());
  if (outcome->uploadAddress)
    outcome->data.Url = uploadUrl(domain, *outcome->uploadAddress);
  replyData(response, outcome->status, std::move(outcome->data));
}

void FileCacheApi::chunk(const httplib::Request& request, httplib::Response& response, const std::string& domain,
                         const AccessClaims& claims, const std::string& address) {
  std::optional<UploadSession> session = context_.state.upload(address);
  std::optional<ShareInfo> share = session ? context_.state.share(session->shareId) : std::nullopt;
  if (!share || share->domain != domain)
    return replyError(response, StateError::notFound("Unknown upload address"));
  if (session->event.UserOrigin != claims.subject)
    return replyError(response, StateError::forbidden("The upload was started by another user"));
  std::optional<ContentRange> range = parseContentRange(request.get_header_value("Content-Range"));
  if (!range)
    return replyError(response, StateError::badRequest("A chunk needs \"Content-Range: bytes first-last/total\""));
  auto written = context_.state.writeChunk(address, range->first, range->second, range->total, request.body);
  if (!written)
    return replyError(response, written.error());
  OVNewAPIResponceData data;
  if (written->complete) {
    data.ClientJournalEvent = std::move(written->event);
  } else {
    data.CurrentPosition = written->position;
    data.ExpectedLength = written->expectedLength;
  }
  replyData(response, written->complete ? 201 : 202, std::move(data));
}

void FileCacheApi::download(const httplib::Request& request, httplib::Response& response, const std::string& domain,
                            const AccessClaims& claims, const std::string& shareId, const std::string& uploadName) {
  auto share = context_.state.shareFor(claims.subject, domain, shareId);
  auto content = share ? context_.state.content(shareId, uploadName) : StateResult<ContentView>(share.error());
  if (!content)
    return replyMessage(response, content.error().status, content.error().message);
  const std::int64_t size = content->content->size();
  std::int64_t start = 0;
  std::int64_t end = size;
  if (request.has_header("Content-Range")) {
    // The client's range header names one byte past the last one it wants.
    std::optional<ContentRange> range = parseContentRange(request.get_header_value("Content-Range"));
    if (!range)
      return replyMessage(response, 400, "\"Content-Range\" must be \"bytes start-end/total\"");
    if (range->total != size || range->first > range->second || range->second > size) {
      response.set_header("Content-Range", fmt::format("bytes */{}", size));
      return replyMessage(response, 416, fmt::format("The content has {} bytes", size));
    }
    start = range->first;
    end = range->second;
  }
  replyContent(response, content->content, start, end - start, "application/octet-stream");
}

} // namespace orvex::service
