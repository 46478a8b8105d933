#include "Api/Replies.h"

#include <httplib.h>

#include <charconv>
#include <vector>

namespace orvex::service {
namespace {
constexpr std::size_t kPiece = std::size_t{256} * 1024; // what one read of a blob hands to the connection
}

void replyJson(httplib::Response& response, int status, const std::string& jsonText) {
  response.status = status;
  response.set_content(jsonText, "application/json; charset=utf-8");
}

void replyMessage(httplib::Response& response, int status, const std::string& message) {
  replyJson(response, status, nlohmann::json{{"Message", message}}.dump());
}

void replyData(httplib::Response& response, int status, OVNewAPIResponceData data) {
  OVNewAPIResponce reply;
  reply.Data = std::move(data);
  replyJson(response, status, reply.toJSONText());
}

void replyError(httplib::Response& response, const StateError& error) {
  OVNewAPIResponce reply;
  reply.Message = error.message;
  if (error.code)
    reply.Code = *error.code;
  if (error.currentPosition) {
    reply.Data.emplace();
    reply.Data->CurrentPosition = *error.currentPosition;
    reply.Data->ExpectedLength = error.expectedLength.value_or(0);
  }
  nlohmann::json body = reply.toJSONObject();
  if (error.lock)
    body["FileLock"] = error.lock->toJSONObject();
  replyJson(response, error.status, body.dump());
}

void replyContent(httplib::Response& response, std::shared_ptr<const ContentSource> content, std::int64_t start,
                  std::int64_t length, const std::string& contentType) {
  response.status = 200;
  if (length == 0) { // the library takes a provider of length 0 for one of unknown length
    response.set_content("", contentType);
    return;
  }
  auto buffer = std::make_shared<std::vector<char>>(kPiece);
  response.set_content_provider(static_cast<std::size_t>(length), contentType,
                                [content = std::move(content), buffer, start](std::size_t offset, std::size_t remaining,
                                                                              httplib::DataSink& sink) {
                                  std::size_t piece = std::min(remaining, buffer->size());
                                  // A blob that cannot be read ends the connection: the client sees a short body, never
                                  // wrong bytes.
                                  if (!content->read(start + static_cast<std::int64_t>(offset), buffer->data(), piece))
                                    return false;
                                  return sink.write(buffer->data(), piece);
                                });
}

std::optional<ContentRange> parseContentRange(std::string_view header) {
  constexpr std::string_view kUnit = "bytes ";
  if (header.substr(0, kUnit.size()) != kUnit)
    return std::nullopt;
  header.remove_prefix(kUnit.size());
  ContentRange range;
  std::int64_t* fields[] = {&range.first, &range.second, &range.total};
  const char separators[] = {'-', '/', '\0'};
  for (int i = 0; i < 3; ++i) {
    auto [end, error] = std::from_chars(header.data(), header.data() + header.size(), *fields[i]);
    if (error != std::errc() || end == header.data() || *fields[i] < 0)
      return std::nullopt;
    header.remove_prefix(static_cast<std::size_t>(end - header.data()));
    if (separators[i] != '\0') {
      if (header.empty() || header.front() != separators[i])
        return std::nullopt;
      header.remove_prefix(1);
    }
  }
  if (!header.empty())
    return std::nullopt;
  return range;
}

std::vector<std::string> pathSegments(const std::string& path) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos)
      slash = path.size();
    if (slash > start)
      segments.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return segments;
}

} // namespace orvex::service
