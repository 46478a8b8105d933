// What one OVLog call costs its caller, and how many lines the logger writes
// per second. The baseline is the cheapest synchronous alternative: one
// write(2) of a finished line to a file on the caller's thread.
#include "OVLogger.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBatch = 100;
constexpr int kBatches = 2000;

// Median nanoseconds per call over batches of kBatch calls.
template <class Call>
double medianNanos(Call&& call) {
  std::vector<double> perCall;
  perCall.reserve(kBatches);
  for (int b = 0; b < kBatches; ++b) {
    const auto start = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      call(b * kBatch + i);
    }
    const std::chrono::duration<double, std::nano> took = Clock::now() - start;
    perCall.push_back(took.count() / kBatch);
  }
  std::nth_element(perCall.begin(), perCall.begin() + kBatches / 2, perCall.end());
  return perCall[kBatches / 2];
}

std::filesystem::path makeFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvex-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return pattern;
}

} // namespace

int main() {
  const auto folder = makeFolder();
  orvex::OVLogger logger;
  logger.initLogs(folder);

  const double callNs = medianNanos([&](int i) {
    logger.log(orvex::kLogFuse, fmt::format("orvex_getattr: /Share/Folder/file-{}.txt size {}", i, i * 7));
  });
  logger.flush();

  constexpr int kLines = 400000;
  const auto start = Clock::now();
  for (int i = 0; i < kLines; ++i) {
    logger.log(orvex::kLogMain, fmt::format("Uploading chunk {} of file {}", i, "4f1c2a9e0b7d4c3e8a6f5d2c1b0a9e8f"));
  }
  logger.flush();
  const std::chrono::duration<double> sustained = Clock::now() - start;

  const int fd = ::open((folder / "baseline.log").c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
  const double writeNs = medianNanos([&](int i) {
    const auto line = fmt::format("orvex_getattr: /Share/Folder/file-{}.txt size {}\n", i, i * 7);
    [[maybe_unused]] auto written = ::write(fd, line.data(), line.size());
  });
  ::close(fd);

  std::printf("log_call_ns=%.1f\n", callNs);
  std::printf("log_lines_per_s=%.0f\n", kLines / sustained.count());
  std::printf("baseline_write_call_ns=%.1f\n", writeNs);
  std::printf("log_call_vs_write_ratio=%.3f\n", callNs / writeNs);
  std::filesystem::remove_all(folder);
  return 0;
}
