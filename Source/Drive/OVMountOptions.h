// The options the drive is mounted with, and the facts about the user they
// depend on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// What the machine says about the user who mounts.
struct OVMountFacts {
  // Member of "sudo" or "wheel", the administrators' groups on Linux.
  bool inAdminGroup = false;
  // FUSE lets this user pass "allow_root": the user is root, or
  // /etc/fuse.conf holds "user_allow_other".
  bool userAllowOther = false;

  // The answers for the process's effective user.
  static OVMountFacts probe();
};

// The kernel's attribute and name caches, in seconds; see OVMountOptions.cpp.
inline constexpr int kDriveAttributeTimeout = 60;
inline constexpr int kDriveEntryTimeout = 60;

// The largest read, write and read-ahead the drive asks the kernel for in one
// request (the kernel's own limit is 256 pages).
inline constexpr unsigned kDriveMaxTransfer = 1024 * 1024;

// The options, one per entry, in the order they are passed: names from the
// title, caches, transfer sizes, permission checks, and "allow_root" for an
// administrator whom FUSE allows it, unless `noRootMount`.
std::vector<std::string> mountOptions(std::string_view appTitle, const OVMountFacts& facts, bool noRootMount);

// The title as a mount option value: characters that mount tables and
// option strings treat specially become "_".
std::string mountOptionName(std::string_view appTitle);

// Whether a user's group memberships include an administrators' group.
bool isAdminMember(const std::vector<std::string>& groupNames);
// Whether the text of /etc/fuse.conf enables "user_allow_other".
bool fuseConfAllowsOther(std::string_view confText);

} // namespace orvex
