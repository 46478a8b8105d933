#include "Drive/OVListingNames.h"

#include "Drive/OVFuseUtils.h"

namespace orvex {

bool isLinuxFileName(std::string_view name) {
  return name.size() <= kMaxLinuxNameBytes && name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

OVListingVerdict folderEntryVerdict(std::string_view name) {
  if (!isLinuxFileName(name))
    return OVListingVerdict::notALinuxName;
  if (OVFuseUtils::containsInvalidCharacters(name))
    return OVListingVerdict::invalidCharacters;
  if (OVFuseUtils::isPathIgnored(name, false))
    return OVListingVerdict::ignored;
  return OVListingVerdict::listed;
}

OVListingVerdict shareEntryVerdict(std::string_view name) {
  if (!isLinuxFileName(name))
    return OVListingVerdict::notALinuxName;
  if (OVFuseUtils::isPathIgnored(name, false))
    return OVListingVerdict::ignored;
  return OVListingVerdict::listed;
}

} // namespace orvex
