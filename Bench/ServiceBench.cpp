// How fast orvex-service serves contents: 1 MiB ranged GETs over one
// kept-alive TLS connection through a 512 MiB file (the way the client's chunk
// downloads read), against fetching the whole file in one GET in the same run.
// The service runs in-process on loopback; the file's content is seeded, so
// no disk is involved. Prints key=value lines (MB = 10^6 bytes).
#include "OrvexService.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

using orvex::service::OrvexService;
using orvex::service::ServiceConfig;
using orvex::service::ServiceOptions;

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kFileSize = 512 * kMiB;

ServiceConfig benchConfig() {
  return ServiceConfig::fromJson(
      {{"Domains", {"bench.example"}},
       {"Users", {{{"Email", "bench@bench.example"}, {"Password", "bench"}, {"PrimaryDomain", "bench.example"}}}},
       {"Shares", {{{"ShareId", "bench"}, {"Name", "Bench"}, {"Domain", "bench.example"}}}},
       {"Files", {{{"Share", "bench"}, {"Path", "big.bin"}, {"Size", kFileSize}, {"Seed", 1}}}}},
      "benchmark");
}

struct Transfer {
  std::int64_t bytes = 0;
};

size_t count(char*, size_t size, size_t items, void* transfer) {
  static_cast<Transfer*>(transfer)->bytes += static_cast<std::int64_t>(size * items);
  return size * items;
}

class Client {
 public:
  Client(OrvexService& service, const std::string& token, std::string url)
      : url_(std::move(url)),
        auth_("Authorization: Bearer " + token),
        connectTo_(curl_slist_append(nullptr, ("::127.0.0.1:" + std::to_string(service.port())).c_str())),
        ca_(service.tls().caCertificatePem),
        curl_(curl_easy_init()) {}
  ~Client() {
    curl_easy_cleanup(curl_);
    curl_slist_free_all(connectTo_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // One GET, with the client's "Content-Range" header when `range` is not empty; the bytes received.
  std::int64_t get(const std::string& range) {
    curl_slist* headers = curl_slist_append(nullptr, auth_.c_str());
    if (!range.empty())
      headers = curl_slist_append(headers, ("Content-Range: " + range).c_str());
    curl_blob ca{ca_.data(), ca_.size(), CURL_BLOB_NOCOPY};
    Transfer transfer;
    curl_easy_setopt(curl_, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(curl_, CURLOPT_CONNECT_TO, connectTo_);
    curl_easy_setopt(curl_, CURLOPT_CAINFO_BLOB, &ca);
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, count);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &transfer);
    CURLcode result = curl_easy_perform(curl_);
    long status = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    long connects = 0;
    curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &connects);
    connections_ += connects;
    curl_slist_free_all(headers);
    return result == CURLE_OK && status == 200 ? transfer.bytes : -1;
  }
  long connections() const { return connections_; }

 private:
  const std::string url_;
  const std::string auth_;
  curl_slist* connectTo_;
  std::string ca_;
  CURL* curl_;
  long connections_ = 0;
};

double megabytesPerSecond(std::int64_t bytes, std::chrono::steady_clock::duration elapsed) {
  return static_cast<double>(bytes) / 1e6 / std::chrono::duration<double>(elapsed).count();
}

} // namespace

int main() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  ServiceOptions options;
  options.config = benchConfig();
  OrvexService service(std::move(options));
  service.start();
  const std::string token = service.identity().issueTokens("bench@bench.example")->accessToken;
  const std::string uploadName =
      *service.state().node("bench", service.state().nodes("bench")->front().InternalName.value())->UploadName;
  const std::string url = "https://files.bench.example/api/shares/bench/files/" + uploadName;

  Client ranged(service, token, url);
  auto start = std::chrono::steady_clock::now();
  std::int64_t rangedBytes = 0;
  for (std::int64_t offset = 0; offset < kFileSize; offset += kMiB) {
    std::int64_t got = ranged.get("bytes " + std::to_string(offset) + "-" + std::to_string(offset + kMiB) + "/" +
                                  std::to_string(kFileSize));
    if (got != kMiB) {
      std::fprintf(stderr, "ranged GET at %lld failed\n", static_cast<long long>(offset));
      return 1;
    }
    rangedBytes += got;
  }
  const double rangedRate = megabytesPerSecond(rangedBytes, std::chrono::steady_clock::now() - start);

  Client whole(service, token, url);
  start = std::chrono::steady_clock::now();
  std::int64_t wholeBytes = whole.get("");
  const double wholeRate = megabytesPerSecond(wholeBytes, std::chrono::steady_clock::now() - start);
  if (wholeBytes != kFileSize) {
    std::fprintf(stderr, "whole-file GET failed\n");
    return 1;
  }
  std::printf("ranged_1MiB_MBps=%.1f\n", rangedRate);
  std::printf("ranged_connections=%ld\n", ranged.connections());
  std::printf("whole_file_MBps=%.1f\n", wholeRate);
  std::printf("ranged_vs_whole_ratio=%.2f\n", rangedRate / wholeRate);
  service.stop();
  curl_global_cleanup();
  return 0;
}
