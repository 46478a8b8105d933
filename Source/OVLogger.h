// The application's one logging facility. Any thread calls OVLog(type, format,
// args...): the call formats the message, stamps it with the time and the
// thread, hands it to the logger queue and returns without touching the disk.
// The queue writes each line to the day's log file; files are named after the
// local date, reopened at local midnight (and when the clock is set back), and
// ".log" files older than fourteen days are deleted at every (re)opening.
#pragma once

#include "Dispatch/Clock.h"
#include "Dispatch/SerialQueue.h"
#include "Platform/LocalTimeZone.h"
#include "Platform/SystemLog.h"

#include <fmt/format.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace orvex {

// Log types: which file a line goes to.
inline constexpr unsigned kLogMain = 0;  // main.log: everything but the drive
inline constexpr unsigned kLogFuse = 1;  // fuse.log: the file-system callbacks
inline constexpr unsigned kLogDebug = 2; // standard error
inline constexpr unsigned kLogDb = 4;    // db.log, only while enableDBLog is on

// Threads: log() from any thread. Files are written on loggerQueue only; the
// descriptors, the day bounds and the GUI hand-off are guarded by lock_, which
// also serialises writing a line against reopening from another thread (the
// cache clean-up reopens from a background queue).
class OVLogger {
 public:
  using GUIHandler = std::function<void(const std::string& line, unsigned type)>;

  explicit OVLogger(Clock& clock = Clock::system(), const LocalTimeZone& zone = LocalTimeZone::system(),
                    SystemLog& systemLog = SystemLog::syslog());
  OVLogger(const OVLogger&) = delete;
  OVLogger& operator=(const OVLogger&) = delete;
  ~OVLogger();

  // The process's logger, used by OVLog.
  static OVLogger& shared();

  // Queues one message (no trailing newline) of the given type. Never blocks on the disk.
  void log(unsigned type, std::string message);

  // First opening at start-up, in `logDir`. Lines logged before it are kept in
  // memory (up to a bound) and written once the files are open.
  void initLogs(std::filesystem::path logDir);
  // Closes and reopens the files under the current day's names, then cleans up.
  void openLogs();
  // Deletes every ".log" file of the log folder modified more than 14 days ago.
  void cleanupLogs();
  // Closes all log files; lines of their types are dropped until the next opening.
  void close();
  std::filesystem::path logDir() const;

  // Hands every further line and its type to `handler` (the log window).
  void setGUIHandler(GUIHandler handler);
  void setLogToGUI(bool on);

  // Blocks until every line queued before the call has been written.
  void flush();

  SerialQueue& loggerQueue() { return queue_; }

  // Writes one finished message; runs on the logger queue.
  void logMessage(unsigned type, Clock::WallTime date, pid_t thread, const std::string& text);

  // The line as written: "[thread] yyyy-MM-ddTHH:mm:ss.SSS <latency>: text" (UTC stamp).
  static std::string formatLine(pid_t thread, Clock::WallTime date, double latencySeconds, const std::string& text);

 private:
  struct Pending {
    unsigned type;
    Clock::WallTime date;
    pid_t thread;
    std::string text;
  };

  void closeLocked();
  void openFileLocked(int& fd, const std::string& prefix, const char* name, const char* what);
  int descriptorLocked(unsigned type) const;
  void checkDayBoundary();

  // Constant after construction.
  Clock& clock_;
  const LocalTimeZone& zone_;
  SystemLog& systemLog_;
  const bool enableDBLog_ = false; // no setting turns it on: db.log is never opened

  // State below is protected by lock_.
  mutable std::recursive_mutex lock_;
  std::filesystem::path logDir_;
  bool opened_ = false; // initLogs has run: lines are no longer kept in pending_
  std::vector<Pending> pending_;
  int logMainFd_ = -1;
  int logFuseFd_ = -1;
  int logDbFd_ = -1;
  Clock::WallTime ovLogTime_{};
  Clock::WallTime ovLogFirstTime_{};
  Clock::WallTime ovLogLastTime_{};
  bool logToGUI_ = false;
  GUIHandler guiHandler_;

  SerialQueue queue_; // last: its thread stops first, while the state above still exists
};

// The process-wide facade named as the rest of the program knows it.
void OVInitLogs(const std::filesystem::path& logDir);
void OVOpenLogs();
void OVCleanupLogs();
void OVClose();
std::filesystem::path OVLogDir();

template <class... Args>
void OVLog(unsigned type, fmt::format_string<Args...> format, Args&&... args) {
  OVLogger::shared().log(type, fmt::format(format, std::forward<Args>(args)...));
}

} // namespace orvex
