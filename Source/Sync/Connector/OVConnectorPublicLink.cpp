// Public links: the client gateway of the file's domain makes an address
// through which anyone can fetch the file; the caller gets it on the main queue.
#include "OVLogger.h"
#include "Sync/Connector/OVConnector.h"
#include "Sync/PublicLinkRecords.h"

namespace orvex {

void OVConnector::createFilePublicLink(const OVFile& file, LinkHandler creationHandler) {
  OVLog(kLogMain, "Creating the file public link for file {}...", file.publicName);
  publicLinkQueue_.async([this, file, handler = std::move(creationHandler)]() mutable {
    const ManagedSharePtr share = parts_.database.shareForFile(file);
    if (!share || !domainExists(share->GateWayUrl)) {
      OVLog(kLogMain, "createFilePublicLink for {} : cannot retrieve domain url.", file.publicName);
      return;
    }
    OVNewAPICreatePublicLink link;
    link.ShareId = share->ShareId;
    link.InternalName = file.internalName;
    link.Message = "";
    link.EnablePassword = false;
    link.Password = "";
    link.DaysToExpire = 0;
    link.MaxUse = 0;
    auto request = parts_.api.newApiCreateLinkRequest(link, *share->GateWayUrl);
    if (!request) {
      return; // the builder said why
    }
    std::weak_ptr<int> life = life_;
    parts_.authorization.fetchUrlRequestWithCompletion(
        std::move(*request),
        [this, life, file, handler = std::move(handler)](bool ok, std::optional<HttpRequest> withToken) mutable {
          if (!life.lock()) {
            return;
          }
          if (!ok || !withToken) {
            OVLog(kLogMain, "Create public link - Error getting access token");
            return;
          }
          // The send blocks: it must not hold up the main queue.
          publicLinkQueue_.async([this, file, request = std::move(*withToken), handler = std::move(handler)]() mutable {
            sendPublicLinkRequest(file, request, std::move(handler));
          });
        });
  });
}

void OVConnector::sendPublicLinkRequest(const OVFile& file, const HttpRequest& request, LinkHandler handler) {
  const HttpResult result = parts_.http.send(request);
  const long status = result.ok() ? result.response().status : 0;
  if (!result.ok() || result.response().body.empty()) {
    OVLog(kLogMain, "Failed to receive reply for create public link request. HTTP status code: {}.", status);
    return;
  }
  const std::string& body = result.response().body;
  const auto reply = OVNewAPICreatePublicLinkResponce::fromJSONText(body);
  if (!reply) {
    OVLog(kLogMain, "Cannot parse create public link responce for {}: {}", file.publicName,
          std::string_view(body).substr(0, 2048));
    return;
  }
  if (status != 201 && status != 200) {
    OVLog(kLogMain, "createFilePublicLink for {} : error {}, message {}", file.publicName, status,
          reply->Message.value_or("(null)"));
    return;
  }
  std::optional<std::string> link = reply->Data ? reply->Data->FullLink : std::nullopt;
  std::weak_ptr<int> life = life_;
  parts_.mainQueue.async([life, link = std::move(link), handler = std::move(handler)] {
    if (life.lock() && handler) {
      handler(link);
    }
  });
}

} // namespace orvex
