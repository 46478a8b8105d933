// Building the service's replies: JSON records, the "new file API" reply
// shape with its Message and Code, refusals from the state, and ranges of a
// content blob streamed to the client.
#pragma once

#include "State/ContentSource.h"
#include "State/StateResult.h"
#include "Sync/JournalRecords.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace orvex::service {

void replyJson(httplib::Response& response, int status, const std::string& jsonText);
// {"Message": message} with `status`.
void replyMessage(httplib::Response& response, int status, const std::string& message);
// An OVNewAPIResponce holding `data`.
void replyData(httplib::Response& response, int status, OVNewAPIResponceData data);
// The refusal as an OVNewAPIResponce: Message, Code, and Data with the server's
// position for 400/16; a 423 also carries the holder's lock as "FileLock".
void replyError(httplib::Response& response, const StateError& error);

// `length` bytes of `content` from `start`, read piece by piece while they are
// sent, so a large blob is never held in memory.
void replyContent(httplib::Response& response, std::shared_ptr<const ContentSource> content, std::int64_t start,
                  std::int64_t length, const std::string& contentType);

// "bytes A-B/C" with three decimal numbers; nothing for anything else.
struct ContentRange {
  std::int64_t first = 0;
  std::int64_t second = 0;
  std::int64_t total = 0;
};
std::optional<ContentRange> parseContentRange(std::string_view header);

// Path segments between "/" ("/api/shares/x/files" -> api, shares, x, files).
std::vector<std::string> pathSegments(const std::string& path);

} // namespace orvex::service
