#include "Sync/OVShareStoreFile.h"

#include <plist/plist.h>

#include <cstdint>
#include <limits>
#include <memory>

namespace orvex {
namespace {

constexpr const char* kSharesKey = "shares";
constexpr const char* kGlobalResponceKey = "globalresponce";

struct FreePlist {
  void operator()(plist_t node) const noexcept { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, FreePlist>;

std::optional<std::string> stringValue(plist_t node) {
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING)
    return std::nullopt;
  uint64_t length = 0;
  const char* text = plist_get_string_ptr(node, &length);
  if (text == nullptr)
    return std::string();
  return std::string(text, static_cast<std::size_t>(length));
}

} // namespace

std::string encodeShareStoreFile(const OVShareStoreFileContent& content) {
  PlistPtr root(plist_new_dict());
  plist_t shares = plist_new_array();
  for (const std::string& share : content.shares)
    plist_array_append_item(shares, plist_new_string(share.c_str()));
  plist_dict_set_item(root.get(), kSharesKey, shares); // the dictionary owns it now
  plist_dict_set_item(root.get(), kGlobalResponceKey, plist_new_string(content.globalResponce.c_str()));

  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root.get(), &xml, &length);
  std::string result = xml != nullptr ? std::string(xml, length) : std::string();
  plist_to_xml_free(xml);
  return result;
}

std::optional<OVShareStoreFileContent> decodeShareStoreFile(std::string_view xml, std::string& error) {
  if (xml.size() > std::numeric_limits<uint32_t>::max()) {
    error = "the file is too large";
    return std::nullopt;
  }
  plist_t parsed = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &parsed);
  PlistPtr root(parsed);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
    error = root ? "it does not hold a dictionary" : "it is not an XML property list";
    return std::nullopt;
  }
  plist_t shares = plist_dict_get_item(root.get(), kSharesKey);
  if (shares == nullptr || plist_get_node_type(shares) != PLIST_ARRAY) {
    error = "it has no \"shares\" array";
    return std::nullopt;
  }
  OVShareStoreFileContent content;
  const uint32_t count = plist_array_get_size(shares);
  for (uint32_t index = 0; index < count; ++index) {
    if (std::optional<std::string> share = stringValue(plist_array_get_item(shares, index)))
      content.shares.push_back(std::move(*share));
    else
      ++content.droppedEntries;
  }
  content.globalResponce = stringValue(plist_dict_get_item(root.get(), kGlobalResponceKey)).value_or("");
  return content;
}

} // namespace orvex
