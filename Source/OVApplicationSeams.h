// What the application shell drives but other parts of the program provide:
// the file manager's channel, with the stand-in used until it is wired in,
// and the adapter that lets the connector drive the download queue.
#pragma once

#include "Sync/Connector/OVConnectorSeams.h"
#include "Transfers/OVDownloadQueue.h"

#include <string>

namespace orvex {

// Called on the main thread, except updateOverlayIcon (background queues).
class OVFinderChannel {
 public:
  OVFinderChannel() = default;
  OVFinderChannel(const OVFinderChannel&) = delete;
  OVFinderChannel& operator=(const OVFinderChannel&) = delete;
  virtual ~OVFinderChannel() = default;

  virtual void start() = 0;
  // Asks the file manager to redraw the badge of the absolute path.
  virtual void updateOverlayIcon(const std::string& path) = 0;
};

// No file-manager plug-in is listening: nothing to start, nobody to redraw.
class OVNoFinderPlugin final : public OVFinderChannel {
 public:
  void start() override {}
  void updateOverlayIcon(const std::string& /*path*/) override {}
};

// The download queue as the connector drives it. Thread-safe as the queue is;
// the queue must outlive the adapter.
class OVDownloadQueueAdapter final : public OVDownloadQueueControl {
 public:
  explicit OVDownloadQueueAdapter(OVDownloadQueue& queue) : queue_(queue) {}
  void runThread() override { queue_.runThread(); }
  void cancelAllDownloads() override { queue_.cancelAllDownloads(); }
  void checkAutomaticDownloads() override { queue_.checkAutomaticDownloads(); }

 private:
  OVDownloadQueue& queue_;
};

} // namespace orvex
