// The real orvex program, started headless in a child process with its home,
// runtime folder, brand file and first-run marker in a temporary folder,
// against an orvex-service in the test's own process. Every wait is bounded:
// the helpers poll what a user would see (log lines, files, the mount table)
// until a deadline.
#pragma once

#include "OrvexService.h"
#include "Support/ServiceClient.h"
#include "Support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvex::test {

inline constexpr const char* kShareName = "Team";
inline constexpr const char* kHelloName = "Hello.txt";
inline constexpr const char* kHelloText = "Hello from the service.\n";
// A file of the share large enough that reading it takes several requests.
inline constexpr const char* kLargeName = "Large.bin";
inline constexpr std::uintmax_t kLargeSize = 4 << 20;

// One started program. Owned by the test thread.
struct Program {
  pid_t pid = -1;
  std::filesystem::path output; // standard output and error, together
};

class ProgramFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts `orvex` with `arguments`; its output goes to a file of its own.
  Program start(std::vector<std::string> arguments = {"--headless"});
  // Waits (bounded) for the program to end; its exit status, or -1 when it
  // did not end in time or died of a signal.
  int waitForExit(Program& program);
  // Waits (bounded) until the program has printed its login address.
  bool asksForLogin(const Program& program) const;
  // The login as a user without a desktop does it: the printed address, the
  // provider's redirect, `orvex --open-url`.
  void approveLogin(const Program& program);
  // approveLogin, then waits for the share's file to show under the mount path.
  void login(const Program& program);
  // Sends `signal` and waits for the exit.
  int stop(Program& program, int signal = SIGTERM);

  // Polls `condition` until it holds or the deadline passes.
  static bool eventually(const std::function<bool()>& condition,
                         std::chrono::milliseconds deadline = std::chrono::seconds(30));
  std::string outputOf(const Program& program) const;
  // Every main log file of the application folder, concatenated.
  std::string mainLog() const;
  bool mounted() const;
  nlohmann::json settings() const;
  // The store's status of the live record named `name` (1: new, waiting for
  // its upload), read from files.db; nullopt when there is no such record.
  std::optional<int> storedStatus(const std::string& name) const;

  TempDir folder;
  std::filesystem::path home;
  std::filesystem::path runtime;
  std::filesystem::path brandFile;
  std::filesystem::path firstRunMarker;
  std::filesystem::path mountPath;
  std::filesystem::path dataFolder;
  std::filesystem::path settingsFile;
  std::unique_ptr<service::OrvexService> service;
  std::unique_ptr<ServiceClient> browser;

 private:
  std::vector<std::string> environment() const;
  std::vector<Program> started_;
  int outputs_ = 0;
};

} // namespace orvex::test
