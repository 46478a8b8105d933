#include "DownloadFixture.h"

#include "Store/OVFileCache.h"
#include "Support/TempDir.h"

#include <filesystem>

namespace orvex::test {

namespace {

constexpr const char* kUser = "alice@orvex.example";

// Besides the three files of the shared configuration: a folder of six files
// for downloads side by side, and a tree to take offline.
nlohmann::json serviceConfig() {
  return documentsConfig(nlohmann::json::parse(R"([
      {"Share": "docs", "Path": "Six/s1.bin", "Size": 600000, "Seed": 21},
      {"Share": "docs", "Path": "Six/s2.bin", "Size": 600000, "Seed": 22},
      {"Share": "docs", "Path": "Six/s3.bin", "Size": 600000, "Seed": 23},
      {"Share": "docs", "Path": "Six/s4.bin", "Size": 600000, "Seed": 24},
      {"Share": "docs", "Path": "Six/s5.bin", "Size": 600000, "Seed": 25},
      {"Share": "docs", "Path": "Six/s6.bin", "Size": 600000, "Seed": 26},
      {"Share": "docs", "Path": "Offline/o1.bin", "Size": 3000000, "Seed": 31},
      {"Share": "docs", "Path": "Offline/Inner/o2.bin", "Size": 2500000, "Seed": 32},
      {"Share": "docs", "Path": "Offline/Inner/o3.bin", "Size": 2000000, "Seed": 33}
  ])"));
}

} // namespace

void DownloadFixture::SetUp() {
  server = std::make_unique<ServiceHarness>(serviceConfig(), "download test", h.database.folder.path(), serviceClock);

  auto nodes = server->service().state().nodes("docs");
  ASSERT_TRUE(nodes.ok());
  for (const auto& node : *nodes) {
    OVFile row(node);
    ASSERT_TRUE(insertRow(h.db(), row)) << row.publicName;
    files_.emplace(row.publicName, row);
  }
  AdminReply token = admin("POST", "/tokens", {{"User", kUser}});
  ASSERT_EQ(token.status, 200) << token.body;
  h.bearer.setBearer("Bearer " + token.json().at("access_token").get<std::string>());
  makeQueue(std::chrono::seconds(20));
}

void DownloadFixture::TearDown() {
  queue.reset();
  server.reset();
}

void DownloadFixture::makeQueue(std::chrono::milliseconds chunkWait) {
  queue.reset();
  OVDownloadQueueTimings timings;
  timings.chunkWait = chunkWait;
  queue = std::make_unique<OVDownloadQueue>(
      OVDownloadQueueParts{h.db(), h.database.fileCache, server->http(), server->api(), h.bearer, h.notifications,
                           *h.settings, h.database.clock},
      timings);
}

std::int64_t DownloadFixture::addFault(nlohmann::json rule, const OVFile* target) {
  rule["Method"] = "GET";
  rule["Path"] = target ? "/api/shares/docs/files/" + target->uploadName : kDownloads;
  AdminReply reply = admin("POST", "/faults", rule);
  EXPECT_EQ(reply.status, 201) << reply.body;
  return reply.json().value("Id", std::int64_t{0});
}

bool DownloadFixture::waitForFault(std::int64_t id, int held, int hits, int timeoutMs) {
  return admin("GET", fmt::format("/faults/{}/wait?held={}&hits={}&timeoutMs={}", id, held, hits, timeoutMs)).status ==
         200;
}

void DownloadFixture::removeFault(std::int64_t id) {
  EXPECT_EQ(admin("DELETE", fmt::format("/faults/{}", id)).status, 200);
}

std::int64_t DownloadFixture::lastSequence() {
  std::int64_t last = 0;
  for (const auto& entry : admin("GET", "/requests?after=0").json()) {
    last = std::max(last, entry.value("Sequence", std::int64_t{0}));
  }
  return last;
}

std::vector<std::string> DownloadFixture::downloadRanges(std::int64_t sequence, const OVFile* target) {
  const std::string prefix = "/api/shares/docs/files/";
  std::vector<std::string> ranges;
  for (const auto& entry : admin("GET", fmt::format("/requests?after={}", sequence)).json()) {
    const auto path = entry.value("Path", std::string());
    if (entry.value("Method", std::string()) != "GET" || !path.starts_with(prefix) ||
        (target && path != prefix + target->uploadName)) {
      continue;
    }
    const auto& range = entry["ContentRange"];
    ranges.push_back(range.is_string() ? range.get<std::string>() : std::string());
  }
  return ranges;
}

const OVFile& DownloadFixture::file(const std::string& name) {
  auto found = files_.find(name);
  if (found == files_.end()) {
    ADD_FAILURE() << "no node " << name;
    static const OVFile none;
    return none;
  }
  return found->second;
}

std::string DownloadFixture::content(const OVFile& target) {
  auto& cached = contents_[target.internalName];
  if (cached.empty()) {
    AdminReply reply = admin("GET", "/shares/docs/nodes/" + target.internalName + "/content");
    EXPECT_EQ(reply.status, 200) << reply.body;
    cached = reply.body;
  }
  return cached;
}

std::optional<std::string> DownloadFixture::read(const OVFile& target, std::uint64_t location, std::uint64_t length) {
  return queue->downloadChunk(location, length, target, "/Documents/" + target.publicName);
}

std::optional<std::string> DownloadFixture::readFrontToBack(const OVFile& target, std::uint64_t step) {
  std::string whole;
  for (std::uint64_t offset = 0; offset < target.fileSize; offset += step) {
    auto piece = read(target, offset, step);
    if (!piece) {
      ADD_FAILURE() << "no bytes at " << offset << " of " << target.publicName;
      return std::nullopt;
    }
    whole += *piece;
  }
  return whole;
}

bool DownloadFixture::completeInCache(const OVFile& target) {
  return queue->isFileDownloaded(target);
}

std::string DownloadFixture::partialDownload(const OVFile& target) {
  const auto path = h.database.fileCache.pathForFileDownload(target.internalName);
  std::error_code error;
  if (!path || !std::filesystem::exists(*path, error)) {
    return {};
  }
  return readFile(*path);
}

} // namespace orvex::test
