// Notices other processes of the desktop can follow (the file-manager plug-in
// waits for the drive): a D-Bus signal Notice(s name) on the session bus, sent
// from the object "/com/orvex/Drive" with the interface "com.orvex.Drive".
#pragma once

#include <string>

struct sd_bus;

namespace orvex {

// Called on the main thread only.
class OVDesktopNotices {
 public:
  OVDesktopNotices() = default;
  OVDesktopNotices(const OVDesktopNotices&) = delete;
  OVDesktopNotices& operator=(const OVDesktopNotices&) = delete;
  virtual ~OVDesktopNotices() = default;

  // Sends the notice `name` ("com.orvex.drive-mounted", ...) and does not wait.
  virtual void post(const std::string& name) = 0;
};

// The session bus through sd-bus. Without a session bus (a server, a test)
// the first post logs one warning and every notice is dropped: nobody is
// there to hear it. Owned by the main thread: sd-bus connections are not
// thread-safe.
class OVDBusNotices final : public OVDesktopNotices {
 public:
  OVDBusNotices() = default;
  ~OVDBusNotices() override;
  void post(const std::string& name) override;

 private:
  // Connects on first use; false when no bus can be had.
  bool connect();

  sd_bus* bus_ = nullptr;
  bool triedToConnect_ = false;
};

} // namespace orvex
