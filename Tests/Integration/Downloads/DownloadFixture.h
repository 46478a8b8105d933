// The download queue against an orvex-service in the test's process, over TLS
// with the program's HTTP client, with the admin API for tokens, contents,
// the request log and fault rules. The store's rows are the service's nodes.
#pragma once

#include "Support/LogCapture.h"
#include "Support/ServiceHarness.h"
#include "Transfers/OVDownloadQueue.h"
#include "Unit/Transfers/TransfersHarness.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvex::test {

class DownloadFixture : public ::testing::Test {
 protected:
  // A fault rule's path pattern covering every download of share docs.
  static constexpr const char* kDownloads = "/api/shares/docs/files/*";

  void SetUp() override;
  void TearDown() override;

  // (Re)creates the queue with a reader's wait of `chunkWait`.
  void makeQueue(std::chrono::milliseconds chunkWait);

  AdminReply admin(const std::string& method, const std::string& path, const nlohmann::json& body = nullptr) {
    return server->admin(method, path, body);
  }
  // Adds a fault rule for the downloads of `file` (every download without one); answers its id.
  std::int64_t addFault(nlohmann::json rule, const OVFile* file = nullptr);
  // Waits on the service until the rule holds `held` requests and has acted on `hits`; false on time-out.
  bool waitForFault(std::int64_t id, int held, int hits, int timeoutMs = 20000);
  void removeFault(std::int64_t id);
  // The newest request's sequence number.
  std::int64_t lastSequence();
  // The "Content-Range" of every download request after `sequence`, in order.
  std::vector<std::string> downloadRanges(std::int64_t sequence = 0, const OVFile* file = nullptr);

  // The node of the service's seed data with that name.
  const OVFile& file(const std::string& name);
  // The service's whole content of the node.
  std::string content(const OVFile& file);
  std::optional<std::string> read(const OVFile& file, std::uint64_t location, std::uint64_t length);
  // The whole content read as a program reads it, `step` bytes at a time from
  // the front; nothing (with a test failure) when a piece does not arrive.
  std::optional<std::string> readFrontToBack(const OVFile& file, std::uint64_t step);
  bool completeInCache(const OVFile& file);
  // What the cache holds of an incomplete download (its download file).
  std::string partialDownload(const OVFile& file);

  LogCapture log;
  ManualClock serviceClock;
  TransfersHarness h;
  std::unique_ptr<ServiceHarness> server;
  std::unique_ptr<OVDownloadQueue> queue;

 private:
  std::map<std::string, OVFile> files_;
  std::map<std::string, std::string> contents_;
};

} // namespace orvex::test
