#include "Platform/SystemLog.h"

#include <syslog.h>

namespace orvex {

SystemLog& SystemLog::syslog() {
  // Never destroyed: the logger thread may still use it while the process exits.
  static SyslogSystemLog* const log = new SyslogSystemLog();
  return *log;
}

void SyslogSystemLog::report(const std::string& message) {
  // syslog(3) is thread-safe and opens its connection on first use.
  ::syslog(LOG_USER | LOG_WARNING, "%s", message.c_str());
}

} // namespace orvex
