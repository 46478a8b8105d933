// Reading through the mounted drive from an orvex-service in this process,
// over TLS, with the real download queue: whole files against the service's
// content, random ranges, the requests a front-to-back read makes, the
// request log for reads the cache answers, a server that stalls, and writes
// into content that was never downloaded.
#include "Drive/Support/DriveHarness.h"
#include "Platform/BrandFile.h"
#include "Support/ServiceHarness.h"
#include "Transfers/OVDownloadQueue.h"
#include "Unit/Transfers/TransfersHarness.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

namespace orvex::test {
namespace {

constexpr const char* kDownloads = "/api/shares/docs/files/";
constexpr std::uint64_t MiB = 1 << 20;

// Hands every question of the drive to a queue made after it (the queue needs
// the harness's store); until one is set nothing can be fetched.
class QueueRelay final : public OVDriveContentSource {
 public:
  void setTarget(OVDownloadQueue* target) { target_ = target; }
  std::optional<std::string> downloadChunk(std::uint64_t location, std::uint64_t length, const OVFile& file,
                                           const std::string& path) override {
    OVDownloadQueue* target = target_;
    return target != nullptr ? target->downloadChunk(location, length, file, path) : std::nullopt;
  }
  bool downloadWholeContent(const OVFile& file, const std::string& path) override {
    OVDownloadQueue* target = target_;
    return target != nullptr && target->downloadWholeContent(file, path);
  }
  void fileClosed(const std::string& internalName) override {
    if (OVDownloadQueue* target = target_)
      target->fileClosed(internalName);
  }

 private:
  std::atomic<OVDownloadQueue*> target_{nullptr};
};

// Parses "bytes FIRST-END/TOTAL" of the service's request log.
ByteRange rangeOf(const std::string& contentRange) {
  std::uint64_t first = 0;
  std::uint64_t end = 0;
  std::uint64_t total = 0;
  EXPECT_EQ(std::sscanf(contentRange.c_str(), "bytes %lu-%lu/%lu", &first, &end, &total), 3) << contentRange;
  return {first, end - first};
}

class ServiceReadTest : public ::testing::Test {
 protected:
  ServiceReadTest() : harness(DriveHarness::servedBy(relay)) {}

  void SetUp() override {
    const auto small = nlohmann::json::parse(R"([{"Share": "docs", "Path": "small.bin", "Size": 65536, "Seed": 5}])");
    server = std::make_unique<ServiceHarness>(documentsConfig(small), "drive read test", harness.store.folder.path(),
                                              serviceClock);

    ManagedShare docs = DriveHarness::share("docs", "Documents");
    docs.GateWayUrl = "orvex.example";
    harness.addShare(docs);
    auto nodes = server->service().state().nodes("docs");
    ASSERT_TRUE(nodes.ok());
    for (const auto& node : *nodes) {
      OVFile row(node);
      harness.write(row);
      files.emplace(row.publicName, row);
    }
    const auto token = admin("POST", "/tokens", {{"User", "alice@orvex.example"}});
    ASSERT_EQ(token.status, 200) << token.body;
    bearer.setBearer("Bearer " + token.json().at("access_token").get<std::string>());
    makeQueue(std::chrono::seconds(20));
    ASSERT_TRUE(harness.mount());
  }

  void TearDown() override {
    relay.setTarget(nullptr);
    queue.reset();
    server.reset();
  }

  void makeQueue(std::chrono::milliseconds chunkWait) {
    relay.setTarget(nullptr);
    queue.reset();
    if (!settings) {
      BrandFile brand;
      settingsFile = std::make_unique<SettingsFile>(harness.store.folder.path() / "settings.json",
                                                    OVSettings::schema(brand.bundleName), harness.store.clock);
      settings = std::make_unique<OVSettings>(brand, *settingsFile);
    }
    OVDownloadQueueTimings timings;
    timings.chunkWait = chunkWait;
    queue = std::make_unique<OVDownloadQueue>(
        OVDownloadQueueParts{harness.db(), harness.store.fileCache, server->http(), server->api(), bearer,
                             notifications, *settings, harness.store.clock},
        timings);
    relay.setTarget(queue.get());
  }

  AdminReply admin(const std::string& method, const std::string& path, const nlohmann::json& body = nullptr) {
    return server->admin(method, path, body);
  }

  std::string content(const std::string& name) {
    const auto reply = admin("GET", "/shares/docs/nodes/" + files.at(name).internalName + "/content");
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.body;
  }

  // The ranges of the download requests for `name` the service received after request number `after`.
  std::vector<ByteRange> rangesAfter(std::int64_t after, const std::string& name) {
    std::vector<ByteRange> ranges;
    for (const auto& entry : nlohmann::json::parse(admin("GET", fmt::format("/requests?after={}", after)).body)) {
      if (entry.value("Method", std::string()) == "GET" &&
          entry.value("Path", std::string()) == kDownloads + files.at(name).uploadName)
        ranges.push_back(rangeOf(entry.value("ContentRange", std::string())));
    }
    return ranges;
  }

  std::int64_t addFault(nlohmann::json rule, const std::string& name) {
    rule["Method"] = "GET";
    rule["Path"] = kDownloads + files.at(name).uploadName;
    const auto reply = admin("POST", "/faults", rule);
    EXPECT_EQ(reply.status, 201) << reply.body;
    return reply.json().value("Id", std::int64_t{0});
  }

  std::string cacheFile(const std::string& name) {
    const auto path = harness.store.fileCache.pathForFileCache(files.at(name));
    return path && std::filesystem::exists(*path) ? readFile(*path) : std::string();
  }
  std::string partialDownload(const std::string& name) {
    const auto path = harness.store.fileCache.pathForFileDownload(files.at(name).internalName);
    return path && std::filesystem::exists(*path) ? readFile(*path) : std::string();
  }

  // Download requests the service received after request number `after`.
  int downloadsAfter(std::int64_t after, std::int64_t* last = nullptr) {
    int count = 0;
    for (const auto& entry : nlohmann::json::parse(admin("GET", fmt::format("/requests?after={}", after)).body)) {
      if (last != nullptr)
        *last = std::max(*last, entry.value("Sequence", std::int64_t{0}));
      if (entry.value("Method", std::string()) == "GET" && entry.value("Path", std::string()).starts_with(kDownloads))
        ++count;
    }
    return count;
  }

  QueueRelay relay; // first: the drive asks it until the harness is gone
  DriveHarness harness;
  ManualClock serviceClock;
  std::unique_ptr<ServiceHarness> server;
  std::unique_ptr<SettingsFile> settingsFile;
  std::unique_ptr<OVSettings> settings;
  NotificationCenter notifications;
  FakeBearerSource bearer;
  std::unique_ptr<OVDownloadQueue> queue;
  std::map<std::string, OVFile> files;
};

TEST_F(ServiceReadTest, WholeFilesMatchTheServiceAndASecondReadFetchesNothing) {
  TempDir expected;
  for (const char* name : {"tiny.txt", "mid.bin", "big.bin"}) {
    writeFile(expected.path() / name, content(name));
    const auto compared =
        run(fmt::format("cmp {} {}", (expected.path() / name).string(), harness.at(std::string("/Documents/") + name)));
    EXPECT_EQ(compared.status, 0) << name << ": " << compared.output;
  }
  std::int64_t last = 0;
  downloadsAfter(0, &last);
  EXPECT_EQ(run("cat " + harness.at("/Documents/big.bin") + " > /dev/null").status, 0);
  EXPECT_EQ(downloadsAfter(last), 0);
}

TEST_F(ServiceReadTest, RandomOffsetsOfAFileNeverDownloaded) {
  TempDir out;
  const std::string big = content("big.bin");
  for (std::uint64_t block : {9000u, 3u, 12799u, 4100u}) {
    const auto piece = out.path() / fmt::format("piece{}", block);
    const auto copied = run(fmt::format("dd if={} of={} bs=4096 count=1 status=none skip={}",
                                        harness.at("/Documents/big.bin"), piece.string(), block));
    ASSERT_EQ(copied.status, 0) << copied.output;
    EXPECT_EQ(readFile(piece), big.substr(block * 4096, 4096)) << "block " << block;
  }
}

TEST_F(ServiceReadTest, AReadInsideTheCachedPrefixMakesNoRequest) {
  const std::string mid = content("mid.bin");
  EXPECT_EQ(harness.readRange("/Documents/mid.bin", 0, 4096), mid.substr(0, 4096));
  const std::uint64_t prefix = harness.store.fileCache.availableDataForFile(files.at("mid.bin"));
  ASSERT_GE(prefix, 8192u);
  std::int64_t last = 0;
  downloadsAfter(0, &last);
  EXPECT_EQ(harness.readRange("/Documents/mid.bin", prefix - 8192, 8192), mid.substr(prefix - 8192, 8192));
  EXPECT_EQ(downloadsAfter(last), 0);
}

TEST_F(ServiceReadTest, RandomReadsMakeSmallRequestsAndAFrontToBackReadStreamsFetchingEachByteOnce) {
  const std::string big = content("big.bin");
  // Reads far apart, with no read-ahead: one small request each, at the read;
  // bytes beyond the cached prefix are not kept.
  std::int64_t last = 0;
  downloadsAfter(0, &last);
  const int fd = ::open(harness.at("/Documents/big.bin").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_NE(fd, -1) << errno;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  const std::uint64_t offsets[] = {10 * MiB, 30 * MiB + 4096, 20 * MiB};
  for (const std::uint64_t offset : offsets) {
    std::string page(4096, '\0');
    ASSERT_EQ(::pread(fd, page.data(), page.size(), static_cast<off_t>(offset)), 4096) << errno;
    EXPECT_TRUE(page == big.substr(offset, 4096)) << offset;
  }
  ::close(fd);
  const auto random = rangesAfter(last, "big.bin");
  ASSERT_EQ(random.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(random[i].location, offsets[i]);
    EXPECT_EQ(random[i].length, MiB);
  }
  EXPECT_EQ(partialDownload("big.bin"), "");

  downloadsAfter(0, &last);
  const auto copied = run("dd if=" + harness.at("/Documents/big.bin") + " of=/dev/null bs=1M status=none");
  ASSERT_EQ(copied.status, 0) << copied.output;
  const auto ranges = rangesAfter(last, "big.bin");
  EXPECT_LE(ranges.size(), 6u);
  std::uint64_t next = 0;
  for (const auto& range : ranges) {
    EXPECT_EQ(range.location, next); // each request starts where the last ended: no byte twice
    next = range.location + range.length;
  }
  EXPECT_EQ(next, files.at("big.bin").fileSize);
  EXPECT_TRUE(cacheFile("big.bin") == big); // complete, and right
}

TEST_F(ServiceReadTest, AWindowThatStallsFailsTheReadKeepsWhatArrivedAndALaterReadAsksAgain) {
  makeQueue(std::chrono::milliseconds(1500));
  const auto stall = addFault({{"StallAfterBytes", 1000000}, {"Times", 1}}, "big.bin");

  // Inside the window, beyond what the server sends before it stops.
  int error = 0;
  EXPECT_EQ(harness.readRange("/Documents/big.bin", 1500000, 4096, &error), "");
  EXPECT_EQ(error, EIO);
  // Given up: the server sees its client go, and the kernel's retry did not ask again.
  EXPECT_EQ(admin("GET", fmt::format("/faults/{}/wait?held=0&hits=1&timeoutMs=20000", stall)).status, 200);
  EXPECT_EQ(rangesAfter(0, "big.bin").size(), 1u);
  const std::string big = content("big.bin");
  const std::string kept = partialDownload("big.bin");
  EXPECT_LE(kept.size(), 1000000u);
  EXPECT_TRUE(kept == big.substr(0, kept.size()));

  harness.store.clock.advance(std::chrono::seconds(2));
  EXPECT_EQ(harness.readRange("/Documents/big.bin", 1500000, 4096, &error), big.substr(1500000, 4096));
  EXPECT_EQ(error, 0);
  // From the kept prefix on (the kernel's read-ahead may follow), no byte twice.
  const auto ranges = rangesAfter(0, "big.bin");
  ASSERT_GE(ranges.size(), 2u);
  std::uint64_t next = kept.size();
  for (std::size_t i = 1; i < ranges.size(); ++i) {
    EXPECT_EQ(ranges[i].location, next) << i;
    next = ranges[i].location + ranges[i].length;
  }
}

TEST_F(ServiceReadTest, APartialWriteIntoContentNeverDownloadedKeepsTheRestOfIt) {
  TempDir in;
  const std::string written(4096, 'w');
  writeFile(in.path() / "page", written);
  const auto copied = run(fmt::format("dd if={} of={} bs=4096 count=1 conv=notrunc status=none",
                                      (in.path() / "page").string(), harness.at("/Documents/small.bin")));
  ASSERT_EQ(copied.status, 0) << copied.output;

  struct stat attributes {};
  ASSERT_EQ(::stat(harness.at("/Documents/small.bin").c_str(), &attributes), 0);
  EXPECT_EQ(attributes.st_size, 65536);
  const std::string expected = written + content("small.bin").substr(4096);
  EXPECT_TRUE(cacheFile("small.bin") == expected);
  EXPECT_TRUE(harness.readRange("/Documents/small.bin", 0, 65536) == expected);
  const auto stored = harness.db().fileWithPath("/Documents/small.bin");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->fileSize, 65536u);
  EXPECT_EQ(stored->status, kFileStatusModified);

  // Opened with truncation there is nothing to keep, and nothing is fetched;
  // content in the cache goes too.
  EXPECT_EQ(harness.readRange("/Documents/tiny.txt", 0, 100), "hello");
  std::int64_t last = 0;
  downloadsAfter(0, &last);
  ASSERT_EQ(run("printf new > " + harness.at("/Documents/mid.bin")).status, 0);
  ASSERT_EQ(run("printf ab > " + harness.at("/Documents/tiny.txt")).status, 0);
  EXPECT_EQ(downloadsAfter(last), 0);
  EXPECT_EQ(cacheFile("mid.bin"), "new");
  EXPECT_EQ(cacheFile("tiny.txt"), "ab");
  EXPECT_EQ(harness.readRange("/Documents/tiny.txt", 0, 100), "ab");
}

TEST_F(ServiceReadTest, AWriteFailsWithEIOWhenTheContentItKeepsCannotBeFetched) {
  makeQueue(std::chrono::milliseconds(1500));
  addFault({{"Status", 500}, {"Body", "boom"}}, "small.bin");
  const int fd = ::open(harness.at("/Documents/small.bin").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_NE(fd, -1) << errno;
  EXPECT_EQ(::pwrite(fd, "x", 1, 0), -1);
  EXPECT_EQ(errno, EIO);
  ::close(fd);
  const auto stored = harness.db().fileWithPath("/Documents/small.bin");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->fileSize, 65536u);
  EXPECT_EQ(stored->status, kFileStatusSynchronized);
  EXPECT_EQ(cacheFile("small.bin"), "");
}

} // namespace
} // namespace orvex::test
