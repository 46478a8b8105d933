// The share store's file, "shares.db": an XML property list holding one
// dictionary with "shares", an array of texts (each the JSON text of one
// share), and "globalresponce", a text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {

struct OVShareStoreFileContent {
  std::vector<std::string> shares; // JSON texts, one per share
  std::string globalResponce;
  // When decoding: entries of "shares" that were not texts and were left out.
  std::size_t droppedEntries = 0;
};

// The XML text of the file.
std::string encodeShareStoreFile(const OVShareStoreFileContent& content);

// Nothing, with `error` saying why, when `xml` is not a property list holding
// a dictionary whose "shares" is an array. A missing or mistyped
// "globalresponce" reads as the empty text.
std::optional<OVShareStoreFileContent> decodeShareStoreFile(std::string_view xml, std::string& error);

} // namespace orvex
