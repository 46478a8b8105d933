#include "Sync/Connector/OVConnector.h"

#include "OVLogger.h"
#include "Sync/Connector/CollectedReply.h"

#include <algorithm>
#include <utility>

namespace orvex {

OVConnector::OVConnector(OVConnectorParts parts) : parts_(std::move(parts)) {
  if (!parts_.realTimeChannels) {
    parts_.realTimeChannels = noRealTimeChannels();
  }
  if (!parts_.realTimeDisabled) {
    parts_.realTimeDisabled = [] { return false; };
  }
}

OVConnector::~OVConnector() {
  std::map<std::uint64_t, std::shared_ptr<HttpTransfer>> inFlight;
  {
    std::lock_guard lock(transfersMutex_);
    stopping_ = true;
    inFlight.swap(transfers_);
  }
  // After cancel() no event of the transfer starts, so the queues below
  // finish only the replies already handed to them.
  for (auto& [id, transfer] : inFlight) {
    if (transfer) {
      transfer->cancel();
    }
  }
}

std::vector<std::string> OVConnector::domains() const {
  std::lock_guard lock(domainsMutex_);
  return domains_;
}

bool OVConnector::domainExists(const std::optional<std::string>& domain) const {
  if (!domain) {
    return false;
  }
  std::lock_guard lock(domainsMutex_);
  return std::ranges::find(domains_, *domain) != domains_.end();
}

void OVConnector::addDomain(const std::string& domain) {
  std::lock_guard lock(domainsMutex_);
  if (std::ranges::find(domains_, domain) == domains_.end()) {
    domains_.push_back(domain);
  }
}

bool OVConnector::lockAvailableForShare(const ManagedSharePtr&) const {
  return true;
}

std::shared_ptr<OVRealTimeChannel> OVConnector::srConnectionForDomain(const std::string& domain) {
  std::lock_guard lock(srMutex_);
  auto& channel = srConnections_[domain];
  if (!channel) {
    channel = parts_.realTimeChannels(domain);
  }
  return channel;
}

void OVConnector::disconnectSignalR() {
  std::map<std::string, std::shared_ptr<OVRealTimeChannel>> channels;
  {
    std::lock_guard lock(srMutex_);
    channels.swap(srConnections_);
  }
  for (auto& [domain, channel] : channels) {
    channel->disconnect();
  }
}

void OVConnector::startup() {
  if (parts_.downloads) {
    parts_.downloads->runThread();
  }
  if (parts_.uploads) {
    parts_.uploads->runThread();
  }
}

void OVConnector::logout() {
  if (parts_.uploads) {
    parts_.uploads->cancelAllUploads();
  }
  if (parts_.downloads) {
    parts_.downloads->cancelAllDownloads();
  }
  if (!parts_.realTimeDisabled()) {
    disconnectSignalR();
  }
  awaitingDomains_.store(0);
}

void OVConnector::sendWithToken(HttpRequest request, SerialQueue& queue,
                                std::function<void(const CollectedReply&)> done, std::function<void()> noToken) {
  std::weak_ptr<int> life = life_;
  auto signedRequest = [this, life, &queue, done = std::move(done), noToken = std::move(noToken)](
                           bool ok, std::optional<HttpRequest> withToken) mutable {
    if (!life.lock()) {
      return;
    }
    if (!ok || !withToken) {
      noToken();
      return;
    }
    std::uint64_t id = 0;
    {
      std::lock_guard lock(transfersMutex_);
      if (stopping_) {
        return;
      }
      id = nextTransferId_++;
      transfers_.emplace(id, nullptr); // reserved: the reply may come before start() returns
    }
    auto events = collectReply([this, id, done = std::move(done)](const CollectedReply& reply) {
      forgetTransfer(id);
      done(reply);
    });
    auto transfer = parts_.http.start(std::move(*withToken), queue, std::move(events));
    std::lock_guard lock(transfersMutex_);
    if (auto it = transfers_.find(id); it != transfers_.end()) {
      it->second = std::move(transfer);
    }
  };
  parts_.authorization.fetchUrlRequestWithCompletion(std::move(request), std::move(signedRequest));
}

void OVConnector::forgetTransfer(std::uint64_t id) {
  std::lock_guard lock(transfersMutex_);
  transfers_.erase(id);
}

} // namespace orvex
