// What the connector tells modules that sit above it or are built after it:
// the transfer queues, the share list window and the real-time channel of a
// domain. Each is a small interface here; the application shell hands in the
// real object (or an adapter onto it), tests a recording fake.
#pragma once

#include "Store/OVShareStore.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvex {

struct ClientLoginResponse;

// The download queue, as the connector drives it. Implementations must not
// wait for the connector: they are called on the connector's reply queues.
class OVDownloadQueueControl {
 public:
  virtual ~OVDownloadQueueControl() = default;
  // Start-up: starts the queue's thread.
  virtual void runThread() = 0;
  // Logout.
  virtual void cancelAllDownloads() = 0;
  // The last catch-up in flight has finished: new nodes may want downloading.
  virtual void checkAutomaticDownloads() = 0;
};

// The upload queue, as the connector drives it.
class OVUploadQueueControl {
 public:
  virtual ~OVUploadQueueControl() = default;
  virtual void runThread() = 0;
  virtual void cancelAllUploads() = 0;
};

// The share list window. Called on the catch-up reply queue; a UI
// implementation posts the work to its own thread.
class OVShareListView {
 public:
  virtual ~OVShareListView() = default;
  virtual void reloadWithShares(std::vector<ManagedSharePtr> shares) = 0;
};

// The real-time channel of one domain. Thread-safe: the connector calls it
// from its profile reply queue and from logout.
class OVRealTimeChannel {
 public:
  virtual ~OVRealTimeChannel() = default;
  // The domain's latest profile (user id and the channel's cookie).
  virtual void setLoginResponce(const ClientLoginResponse& profile) = 0;
  virtual void connect() = 0;
  virtual void disconnect() = 0;
};

// Until the real-time channel exists: a channel that never connects.
class OVNoRealTimeChannel final : public OVRealTimeChannel {
 public:
  void setLoginResponce(const ClientLoginResponse&) override {}
  void connect() override {}
  void disconnect() override {}
};

// Makes the channel of a domain; called once per domain, under the
// connector's channel lock, so it must not call back into the connector.
using OVRealTimeChannelFactory = std::function<std::shared_ptr<OVRealTimeChannel>(const std::string& domain)>;

// The factory the connector uses when none is given.
inline OVRealTimeChannelFactory noRealTimeChannels() {
  return [](const std::string&) { return std::make_shared<OVNoRealTimeChannel>(); };
}

} // namespace orvex
