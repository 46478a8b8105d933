#include "Support/ServiceClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace orvex::test {
namespace {

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r\n");
  size_t last = text.find_last_not_of(" \t\r\n");
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

size_t appendBody(char* data, size_t size, size_t count, void* reply) {
  static_cast<HttpReply*>(reply)->body.append(data, size * count);
  return size * count;
}

size_t appendHeader(char* data, size_t size, size_t count, void* reply) {
  std::string line(data, size * count);
  size_t colon = line.find(':');
  auto* into = static_cast<HttpReply*>(reply);
  if (line.rfind("HTTP/", 0) == 0) {
    into->headers.clear(); // a new response (after a 100 Continue) starts over
  } else if (colon != std::string::npos) {
    into->headers.emplace(lowerCase(trimmed(line.substr(0, colon))), trimmed(line.substr(colon + 1)));
  }
  return size * count;
}

struct SList {
  curl_slist* list = nullptr;
  ~SList() { curl_slist_free_all(list); }
  void add(const std::string& line) { list = curl_slist_append(list, line.c_str()); }
};

} // namespace

std::string HttpReply::header(const std::string& name) const {
  auto found = headers.find(lowerCase(name));
  return found == headers.end() ? std::string() : found->second;
}

std::vector<std::string> HttpReply::headerValues(const std::string& name) const {
  std::vector<std::string> values;
  auto [first, last] = headers.equal_range(lowerCase(name));
  for (auto it = first; it != last; ++it)
    values.push_back(it->second);
  return values;
}

struct ServiceClient::Handle {
  CURL* curl = curl_easy_init();
  ~Handle() { curl_easy_cleanup(curl); }
};

ServiceClient::ServiceClient(std::uint16_t port, std::string caPem)
    : port_(port), caPem_(std::move(caPem)), handle_(std::make_unique<Handle>()) {
  if (handle_->curl == nullptr)
    throw std::runtime_error("curl_easy_init failed");
}

ServiceClient::~ServiceClient() = default;

HttpReply ServiceClient::send(const HttpRequest& request) {
  CURL* curl = handle_->curl;
  curl_easy_reset(curl); // keeps the live connection for the next request
  HttpReply reply;
  std::string url = "https://" + request.host + request.target;
  SList connectTo;
  connectTo.add("::127.0.0.1:" + std::to_string(port_));
  SList headers;
  headers.add("Expect:"); // no 100-continue round trip for large bodies
  for (const std::string& line : request.headers)
    headers.add(line);
  if (request.bearer)
    headers.add("Authorization: Bearer " + *request.bearer);

  curl_blob ca{caPem_.data(), caPem_.size(), CURL_BLOB_COPY};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectTo.list);
  curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &ca);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  if (request.method == "HEAD")
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  if (request.body) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body->size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body->data());
  }
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, appendHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);

  CURLcode result = curl_easy_perform(curl);
  if (result != CURLE_OK) {
    reply.error = curl_easy_strerror(result);
    return reply;
  }
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
  return reply;
}

HttpReply ServiceClient::get(const std::string& host, const std::string& target, std::optional<std::string> bearer,
                             std::vector<std::string> headers) {
  HttpRequest request;
  request.host = host;
  request.target = target;
  request.bearer = std::move(bearer);
  request.headers = std::move(headers);
  return send(request);
}

HttpReply ServiceClient::sendJson(const std::string& method, const std::string& host, const std::string& target,
                                  const std::string& json, std::optional<std::string> bearer) {
  HttpRequest request;
  request.method = method;
  request.host = host;
  request.target = target;
  request.body = json;
  request.bearer = std::move(bearer);
  request.headers.push_back("Content-Type: application/json");
  return send(request);
}

} // namespace orvex::test
