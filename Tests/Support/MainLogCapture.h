// Collects what the shared logger writes to the main log while a test runs, so
// a test can assert that a warning was (or was not) reported.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace orvex::test {

class MainLogCapture {
 public:
  MainLogCapture();
  MainLogCapture(const MainLogCapture&) = delete;
  MainLogCapture& operator=(const MainLogCapture&) = delete;
  ~MainLogCapture();

  // Every main-log line logged so far, once the logger has written it.
  std::vector<std::string> lines();
  // The lines starting with "Warning!" (after the stamp) — lines() filtered.
  std::vector<std::string> warnings();

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_; // guarded by mutex_; appended on the logger queue
};

} // namespace orvex::test
