// Who this computer is, as the service sees it: the device id sent with every
// journal event and at login and compared with a lock's device, the device
// name, and the operating-system text.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// Where the computer's facts come from: the system's by default; tests
// replace them.
struct DeviceSources {
  std::filesystem::path machineIdFile = "/etc/machine-id";
  std::function<std::string()> hostName;      // "" when unknown
  std::function<std::string()> kernelRelease; // as uname -r prints it

  static DeviceSources system();
};

// Where the chosen device id is kept: the user's settings ("<title>.deviceId"),
// whose setter writes the file at once.
struct DeviceIdSetting {
  std::function<std::optional<std::string>()> load;
  std::function<void(const std::string&)> store;
};

// Thread-safe: getDeviceId() is serialised by mutex_ so that two first
// callers cannot choose two ids; the rest reads constant state.
class OVDeviceIdentity {
 public:
  explicit OVDeviceIdentity(DeviceIdSetting setting, DeviceSources sources = DeviceSources::system());

  // The stored id when there is one (not empty); else one derived from the
  // machine id, else a new random UUID (upper case), stored before it is returned.
  std::string getDeviceId();
  // The host name; "Unknown" when it is empty.
  std::string getDeviceName() const;
  // "Linux <major>.<minor>.<patch>" of the running kernel.
  std::string getDeviceOS() const;

  // "Linux a.b.c" from a kernel release text such as "6.1.0-18-amd64"; parts
  // it lacks count as 0.
  static std::string osText(std::string_view kernelRelease);
  // This program's id for the machine whose machine-id file is `file`: a
  // keyed hash of the machine id, never the id itself (which would identify
  // the computer to anyone the service shares it with), as an upper-case
  // UUID. nullopt when the file is missing, unreadable or holds no valid id.
  static std::optional<std::string> machineDeviceId(const std::filesystem::path& file);
  // A new random (version 4) UUID in upper case.
  static std::string randomUUID();

 private:
  // Constant after construction.
  const DeviceIdSetting setting_;
  const DeviceSources sources_;

  std::mutex mutex_; // serialises getDeviceId
};

} // namespace orvex
