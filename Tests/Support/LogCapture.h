// Collects what the shared logger writes while a test runs, so a test can
// assert that a line was (or was not) reported.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace orvex::test {

class LogCapture {
 public:
  LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  ~LogCapture();

  // The lines of one log type written so far (0: main log, 1: fuse log), once
  // the logger has written them.
  std::vector<std::string> lines(unsigned type = 0);
  // The main-log lines starting with "Warning!" (after the stamp).
  std::vector<std::string> warnings();
  // The first line of `type` containing `text`; "" when there is none.
  std::string find(unsigned type, const std::string& text);

 private:
  struct Line {
    unsigned type;
    std::string text;
  };
  std::mutex mutex_;
  std::vector<Line> lines_; // guarded by mutex_; appended on the logger queue
};

} // namespace orvex::test
