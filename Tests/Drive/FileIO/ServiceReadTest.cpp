// Reading through the mounted drive from an orvex-service in this process,
// over TLS, with the real download queue: whole files against the service's
// content, random ranges, the request log for reads the cache answers, and a
// stalled server.
#include "Drive/Support/DriveHarness.h"
#include "Platform/BrandFile.h"
#include "Support/ServiceHarness.h"
#include "Transfers/OVDownloadQueue.h"
#include "Unit/Transfers/TransfersHarness.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

namespace orvex::test {
namespace {

constexpr const char* kDownloads = "/api/shares/docs/files/";

class ServiceReadTest : public ::testing::Test {
 protected:
  ServiceReadTest() : harness(DriveHarness::servedBy(relay)) {}

  void SetUp() override {
    server = std::make_unique<ServiceHarness>(documentsConfig(), "drive read test", harness.store.folder.path(),
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

  ContentRelay relay; // first: the drive asks it until the harness is gone
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

TEST_F(ServiceReadTest, AStalledServerFailsTheReadAfterTheWaitAndALaterReadSucceeds) {
  makeQueue(std::chrono::milliseconds(1500));
  const auto stall =
      admin("POST", "/faults",
            {{"Method", "GET"}, {"Path", kDownloads + files.at("mid.bin").uploadName}, {"Stall", true}, {"Times", 1}});
  ASSERT_EQ(stall.status, 201) << stall.body;
  const auto id = stall.json().value("Id", std::int64_t{0});

  int error = 0;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(harness.readRange("/Documents/mid.bin", 0, 4096, &error), "");
  EXPECT_EQ(error, EIO);
  // The kernel may ask again once for the same page; each ask waits once.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(7));

  ASSERT_EQ(admin("DELETE", fmt::format("/faults/{}", id)).status, 200);
  EXPECT_EQ(harness.readRange("/Documents/mid.bin", 0, 4096, &error), content("mid.bin").substr(0, 4096));
  EXPECT_EQ(error, 0);
}

} // namespace
} // namespace orvex::test
