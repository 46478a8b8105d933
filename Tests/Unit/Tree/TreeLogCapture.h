// Collects the lines the shared logger writes to the main and the fuse log
// while a test runs, so a test can assert what the store reported.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace orvex::test {

class TreeLogCapture {
 public:
  TreeLogCapture();
  TreeLogCapture(const TreeLogCapture&) = delete;
  TreeLogCapture& operator=(const TreeLogCapture&) = delete;
  ~TreeLogCapture();

  // The lines of one log type written so far (waits for the logger first).
  std::vector<std::string> lines(unsigned type);
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
