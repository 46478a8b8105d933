#include "Drive/OVMountOptions.h"

#include "Platform/WholeFile.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace orvex {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

// Names of every group the effective user belongs to; empty when the user is unknown.
std::vector<std::string> userGroupNames() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* user = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &user) != 0 || user == nullptr)
    return {};
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) == -1) {
    groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) == -1)
      return {};
  }
  groups.resize(static_cast<std::size_t>(count));
  std::vector<std::string> names;
  for (gid_t gid : groups) {
    group groupEntry{};
    group* found = nullptr;
    if (getgrgid_r(gid, &groupEntry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
      names.emplace_back(found->gr_name);
  }
  return names;
}

} // namespace

OVMountFacts OVMountFacts::probe() {
  OVMountFacts facts;
  facts.inAdminGroup = isAdminMember(userGroupNames());
  facts.userAllowOther = geteuid() == 0 || fuseConfAllowsOther(readWholeFile("/etc/fuse.conf").text);
  return facts;
}

bool isAdminMember(const std::vector<std::string>& groupNames) {
  return std::any_of(groupNames.begin(), groupNames.end(),
                     [](const std::string& name) { return name == "sudo" || name == "wheel"; });
}

bool fuseConfAllowsOther(std::string_view confText) {
  while (!confText.empty()) {
    std::size_t end = confText.find('\n');
    std::string_view line = trimmed(confText.substr(0, end));
    if (line == "user_allow_other")
      return true;
    confText.remove_prefix(end == std::string_view::npos ? confText.size() : end + 1);
  }
  return false;
}

std::string mountOptionName(std::string_view appTitle) {
  std::string name;
  for (char c : appTitle) {
    const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' || c == '+';
    name += plain ? c : '_';
  }
  return name.empty() ? "orvex" : name;
}

std::vector<std::string> mountOptions(std::string_view appTitle, const OVMountFacts& facts, bool noRootMount) {
  const std::string name = mountOptionName(appTitle);
  std::vector<std::string> options = {
      "fsname=" + name,
      "subtype=" + name,
      // Cached contents are dropped when a file's size or time changed on the server.
      "auto_cache",
      // Whoever changes the store's view of a path tells the kernel (the
      // drive's invalidator), so the kernel may keep names and attributes
      // long: a listing followed by `ls -l` and every later look at the same
      // folder are answered from its caches. New names are never cached as
      // missing: a file that just arrived must show at once.
      "entry_timeout=" + std::to_string(kDriveEntryTimeout),
      "attr_timeout=" + std::to_string(kDriveAttributeTimeout),
      "negative_timeout=0",
      // Writes and read-ahead are sized at init; reads by this option.
      "max_read=" + std::to_string(kDriveMaxTransfer),
      // The kernel checks the permission bits itself, so that a file locked by
      // someone else, shown without write bits, really cannot be written.
      "default_permissions",
  };
  if (facts.inAdminGroup && facts.userAllowOther && !noRootMount)
    options.emplace_back("allow_root");
  return options;
}

} // namespace orvex
