// One running instance per application title: the instance holds an advisory
// lock on "com.orvex.<title>.lock" under $XDG_RUNTIME_DIR for its whole life,
// with its process id and program path written inside, so that a second start
// can name the instance that is in its way. The kernel drops the lock when the
// holder dies, however it dies, so a crashed instance never blocks a restart.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace orvex {

// The instance already running, as it described itself in the lock file.
struct OVRunningInstance {
  pid_t pid = 0; // 0 when it had not yet written its description
  std::string programPath;
};

// Owned by the main thread; holds nothing but the descriptor.
class OVInstanceGuard {
 public:
  struct Result {
    std::unique_ptr<OVInstanceGuard> guard; // this process is the instance
    std::optional<OVRunningInstance> other; // another instance holds the lock
  };

  // "<folder>/com.orvex.<title>.lock".
  static std::filesystem::path lockPath(const std::filesystem::path& folder, const std::string& title);

  // Takes the lock at `path` and writes this process's id and `programPath`
  // into it. When another process holds it, answers that one; when the file
  // cannot be opened at all, answers neither (with a warning: better to run
  // unguarded than not at all).
  static Result acquire(const std::filesystem::path& path, const std::string& programPath);

  OVInstanceGuard(const OVInstanceGuard&) = delete;
  OVInstanceGuard& operator=(const OVInstanceGuard&) = delete;
  // Releases the lock; the file stays, so that no second start ever races on
  // a path that is being removed.
  ~OVInstanceGuard();

 private:
  explicit OVInstanceGuard(int fd) : fd_(fd) {}
  const int fd_;
};

// Parses what the holder wrote: its pid on the first line, its path on the second.
OVRunningInstance parseInstanceDescription(const std::string& text);

} // namespace orvex
