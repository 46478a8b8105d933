#include "OVLogger.h"

#include "Dispatch/ThreadName.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace orvex {

namespace {

constexpr auto kDay = std::chrono::seconds(86400);
constexpr auto kLogRetention = std::chrono::seconds(1209600); // fourteen days
// Lines logged before the log folder is known wait in memory; past this many
// the oldest are kept and the rest dropped, so a logger never opened cannot
// grow without bound.
constexpr std::size_t kMaxPendingLines = 10000;

pid_t currentThreadId() {
  static thread_local const pid_t tid = gettid();
  return tid;
}

std::string utcStamp(Clock::WallTime at) {
  const auto ms = std::chrono::floor<std::chrono::milliseconds>(at);
  const auto seconds = std::chrono::floor<std::chrono::seconds>(ms);
  const std::time_t whole = std::chrono::system_clock::to_time_t(seconds);
  std::tm utc{};
  gmtime_r(&whole, &utc);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                     utc.tm_hour, utc.tm_min, utc.tm_sec, (ms - seconds).count());
}

void nameLoggerThread() {
  static thread_local bool named = false;
  if (!named) {
    setCurrentThreadLabel("com.orvex.clouddrive-osx.loggerThread");
    named = true;
  }
}

} // namespace

OVLogger::OVLogger(Clock& clock, const LocalTimeZone& zone, SystemLog& systemLog)
    : clock_(clock), zone_(zone), systemLog_(systemLog), queue_("com.orvex.clouddrive-osx.loggerQueue", clock) {}

OVLogger::~OVLogger() {
  flush();
  std::lock_guard lock(lock_);
  closeLocked();
}

OVLogger& OVLogger::shared() {
  // Never destroyed: code running in static destructors may still log.
  static OVLogger* const logger = new OVLogger();
  return *logger;
}

void OVLogger::log(unsigned type, std::string message) {
  const auto date = clock_.wallNow();
  const pid_t thread = currentThreadId();
  message.push_back('\n');
  queue_.async([this, type, date, thread, text = std::move(message)] {
    nameLoggerThread();
    logMessage(type, date, thread, text);
  });
}

std::string OVLogger::formatLine(pid_t thread, Clock::WallTime date, double latencySeconds, const std::string& text) {
  return fmt::format("[{}] {} <{:.6f}>: {}", thread, utcStamp(date), latencySeconds, text);
}

int OVLogger::descriptorLocked(unsigned type) const {
  switch (type) {
    case kLogDb:
      return logDbFd_;
    case kLogFuse:
      return logFuseFd_;
    case kLogMain:
      return logMainFd_;
    default:
      return STDERR_FILENO;
  }
}

void OVLogger::logMessage(unsigned type, Clock::WallTime date, pid_t thread, const std::string& text) {
  {
    std::lock_guard lock(lock_);
    const bool toFile = type == kLogMain || type == kLogFuse || (type == kLogDb && enableDBLog_);
    if (!opened_ && toFile) {
      if (pending_.size() < kMaxPendingLines) {
        pending_.push_back({type, date, thread, text});
      }
    } else {
      const std::chrono::duration<double> latency = clock_.wallNow() - date;
      const std::string line = formatLine(thread, date, latency.count(), text);
      const int fd = descriptorLocked(type);
      if (fd != -1) {
        // One write per line keeps lines whole even if another process appends too.
        [[maybe_unused]] const auto written = ::write(fd, line.data(), line.size());
      }
      if (logToGUI_ && guiHandler_) {
        guiHandler_(line, type);
      }
    }
  }
  checkDayBoundary();
}

// Reopens at the first line written at or after the next local midnight, or
// after the clock was set back before the start of the current file's day.
void OVLogger::checkDayBoundary() {
  bool reopen = false;
  {
    std::lock_guard lock(lock_);
    if (!opened_) {
      return;
    }
    const auto now = clock_.wallNow();
    reopen = now >= ovLogLastTime_ || now < ovLogFirstTime_;
  }
  if (reopen) {
    openLogs();
  }
}

// Runs on the logger queue so that the lines held back before the folder was
// known are written first, ahead of every line logged after this call.
void OVLogger::initLogs(std::filesystem::path logDir) {
  queue_.sync([this, &logDir] {
    std::vector<Pending> early;
    {
      std::lock_guard lock(lock_);
      logDir_ = std::move(logDir);
      ovLogTime_ = clock_.wallNow();
      ovLogLastTime_ = ovLogTime_;
      opened_ = true;
      early.swap(pending_);
    }
    openLogs();
    for (const auto& line : early) {
      logMessage(line.type, line.date, line.thread, line.text);
    }
  });
}

void OVLogger::openLogs() {
  {
    std::lock_guard lock(lock_);
    closeLocked();
    ovLogTime_ = clock_.wallNow();
    const LocalDate today = zone_.dateOf(ovLogTime_);
    ovLogFirstTime_ = zone_.midnightOf(today);
    ovLogLastTime_ = ovLogFirstTime_ + kDay;
    const std::string prefix = fmt::format("{:04}-{:02}-{:02}-", today.year, today.month, today.day);
    openFileLocked(logMainFd_, prefix, "main.log", "main");
    openFileLocked(logFuseFd_, prefix, "fuse.log", "fuse");
    if (enableDBLog_) {
      openFileLocked(logDbFd_, prefix, "db.log", "db");
    }
  }
  cleanupLogs();
}

void OVLogger::openFileLocked(int& fd, const std::string& prefix, const char* name, const char* what) {
  const auto path = logDir_ / (prefix + name);
  fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd == -1) {
    systemLog_.report(fmt::format("Warning! Failed to open {} log file : error {}", what, errno));
  }
}

void OVLogger::cleanupLogs() {
  const std::filesystem::path dir = logDir();
  const auto cutoff = clock_.wallNow() - kLogRetention;
  std::error_code error;
  std::filesystem::directory_iterator entries(dir, error);
  if (error) {
    return;
  }
  for (const auto& entry : entries) {
    const auto& path = entry.path();
    if (!path.filename().string().ends_with(".log")) {
      continue;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      continue;
    }
    const auto modified =
        std::chrono::system_clock::time_point{std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec))};
    if (modified < cutoff) {
      std::filesystem::remove(path, error);
    }
  }
}

void OVLogger::close() {
  std::lock_guard lock(lock_);
  closeLocked();
}

void OVLogger::closeLocked() {
  for (int* fd : {&logMainFd_, &logFuseFd_, &logDbFd_}) {
    if (*fd != -1) {
      ::close(*fd);
      *fd = -1;
    }
  }
}

std::filesystem::path OVLogger::logDir() const {
  std::lock_guard lock(lock_);
  return logDir_;
}

void OVLogger::setGUIHandler(GUIHandler handler) {
  std::lock_guard lock(lock_);
  guiHandler_ = std::move(handler);
}

void OVLogger::setLogToGUI(bool on) {
  std::lock_guard lock(lock_);
  logToGUI_ = on;
}

void OVLogger::flush() {
  queue_.sync([] {});
}

void OVInitLogs(const std::filesystem::path& logDir) {
  OVLogger::shared().initLogs(logDir);
}

void OVOpenLogs() {
  OVLogger::shared().openLogs();
}

void OVCleanupLogs() {
  OVLogger::shared().cleanupLogs();
}

void OVClose() {
  // Lines already queued belong to the files being closed.
  OVLogger::shared().flush();
  OVLogger::shared().close();
}

std::filesystem::path OVLogDir() {
  return OVLogger::shared().logDir();
}

} // namespace orvex
