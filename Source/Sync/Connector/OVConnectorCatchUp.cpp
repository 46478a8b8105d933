// Catch-up: a share's nodes changed since its last applied tick, page by page,
// each page merged into the store on the one catch-up reply queue.
#include "OVLogger.h"
#include "Sync/CatchUpRecords.h"
#include "Sync/Connector/CatchUpPageFilter.h"
#include "Sync/Connector/CollectedReply.h"
#include "Sync/Connector/OVConnector.h"

#include <limits>

namespace orvex {

namespace {

// A reply body in the log is cut: a page may be megabytes.
constexpr std::size_t kLoggedBodyBytes = 2048;

std::string_view forLog(const std::string& body) {
  return std::string_view(body).substr(0, kLoggedBodyBytes);
}

} // namespace

void OVConnector::catchUp(const ManagedShare& share) {
  if (!internetReachable()) {
    return;
  }
  ManagedShare from = share;
  if (from.LastApplyedJournalTick == 0) {
    from.LastApplyedJournalTick = kNeverCaughtUp;
  }
  sendCatchupRequest(from, from.LastApplyedJournalTick);
}

void OVConnector::sendCatchupRequest(const ManagedShare& share, std::int32_t startTick) {
  if (!share.GateWayUrl) {
    OVLog(kLogMain, "sendCatchupRequest: domain {} is not reachable, will try again later.", "(null)");
    return;
  }
  const std::string shareId = share.ShareId.value_or("");
  {
    std::lock_guard lock(catchupMutex_);
    if (auto it = activeCatchupRequests_.find(shareId); it != activeCatchupRequests_.end() && startTick >= it->second) {
      OVLog(kLogMain, "sendCatchupRequest: share {} is already being catched up from tick {}.",
            share.ShareName.value_or(""), it->second);
      return;
    }
    // A request from an earlier tick goes alongside the one in flight and takes its place.
    activeCatchupRequests_[shareId] = startTick;
  }
  const std::string aclToken = share.ShareAcl ? share.ShareAcl->AclToken.value_or("") : std::string();
  auto request = parts_.api.catchUpRequest(*share.GateWayUrl, aclToken, shareId, startTick);
  if (!request) {
    endCatchupRequest(shareId, startTick); // the builder said why
    return;
  }
  auto snapshot = std::make_shared<const ManagedShare>(share);
  sendWithToken(
      std::move(*request), catchupResponseQueue_,
      [this, snapshot, startTick](const CollectedReply& reply) { handleCatchupReply(snapshot, startTick, reply); },
      [this, shareId, startTick] {
        endCatchupRequest(shareId, startTick);
        OVLog(kLogMain, "Catchup - Error getting access token");
      });
}

std::map<std::string, std::int32_t> OVConnector::activeCatchupRequests() const {
  std::lock_guard lock(catchupMutex_);
  return activeCatchupRequests_;
}

void OVConnector::handleCatchupReply(const ManagedSharePtr& share, std::int32_t startTick,
                                     const CollectedReply& reply) {
  const std::string shareId = share->ShareId.value_or("");
  if (reply.status == 200 && !reply.body.empty()) {
    auto page = OSXCatchUpResponse::fromJSONText(reply.body);
    if (page) {
      if (pageIsFull(*page)) {
        // The next page is asked for before this one is merged, so that the
        // server prepares it and it travels while the merge runs; its reply
        // waits behind this job on this queue, so pages merge in order.
        endCatchupRequest(shareId, startTick);
        continueCatchup(*share, startTick);
      }
      mergeCatchupPage(*share, std::move(*page));
    } else {
      OVLog(kLogMain, "Warning! Cannot parse catchup responce for share {}: error {}. Responce is {}",
            share->ShareName.value_or(""), page.error(), forLog(reply.body));
    }
  } else {
    OVLog(kLogMain, "Warning! Error with catchup responce for share {}: {}, HTTP status code: {}", shareId,
          reply.errorText(), reply.status);
  }
  // Held until the last page is merged: a share shows as idle only once it is caught up.
  endCatchupRequest(shareId, startTick);
  bool settled = false;
  {
    std::lock_guard lock(catchupMutex_);
    settled = activeCatchupRequests_.empty();
  }
  if (settled) {
    catchupsSettled();
  }
}

bool OVConnector::pageIsFull(const OSXCatchUpResponse& page) {
  // The server's count: records refused before the merge still took their place in the page.
  return page.OvVirtualFiles && page.OvVirtualFiles->size() >= static_cast<std::size_t>(OVNewAPI::kCatchUpPageSize);
}

void OVConnector::continueCatchup(const ManagedShare& share, std::int32_t startTick) {
  constexpr std::int32_t kPage = OVNewAPI::kCatchUpPageSize;
  if (startTick > std::numeric_limits<std::int32_t>::max() - kPage) {
    return;
  }
  OVLog(kLogMain, "sendCatchupRequest: continuing catchup for share {}, tick {}.", share.ShareName.value_or(""),
        startTick + kPage);
  sendCatchupRequest(share, startTick + kPage);
}

void OVConnector::mergeCatchupPage(const ManagedShare& share, OSXCatchUpResponse page) {
  if (!page.OvVirtualFiles || page.OvVirtualFiles->empty()) {
    return; // nothing new: the share's tick stays where it is
  }
  dropForeignRecords(*page.OvVirtualFiles, share);
  parts_.database.updateFilesForShare(page, share);
}

void OVConnector::endCatchupRequest(const std::string& shareId, std::optional<std::int32_t> startTick) {
  std::lock_guard lock(catchupMutex_);
  auto it = activeCatchupRequests_.find(shareId);
  // An entry replaced by a request from an earlier tick belongs to that request.
  if (it != activeCatchupRequests_.end() && (!startTick || it->second == *startTick)) {
    activeCatchupRequests_.erase(it);
  }
}

void OVConnector::catchupsSettled() {
  if (parts_.shareList) {
    parts_.shareList->reloadWithShares(parts_.database.shares());
  }
  if (parts_.downloads) {
    parts_.downloads->checkAutomaticDownloads();
  }
}

} // namespace orvex
