// Reading the kernel's mount table (/proc/self/mountinfo) to tell whether the
// drive is still mounted, without touching the drive itself: a call into a
// FUSE mount can block on the very daemon that asks.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvex {

// The device ("major:minor") of the topmost FUSE mount at `mountPath` in a
// mountinfo text; nothing when no FUSE file system is mounted there.
std::optional<std::string> fuseMountDeviceIn(std::string_view mountinfo, std::string_view mountPath);

// The same, read from this process's mount table now.
std::optional<std::string> fuseMountDevice(std::string_view mountPath);

} // namespace orvex
