// Where the logger reports its own failures: it cannot use its own files for
// that. The real one is syslog; tests record the reports.
#pragma once

#include <string>

namespace orvex {

class SystemLog {
 public:
  SystemLog() = default;
  SystemLog(const SystemLog&) = delete;
  SystemLog& operator=(const SystemLog&) = delete;
  virtual ~SystemLog() = default;
  virtual void report(const std::string& message) = 0;

  // syslog(3), facility "user", ident = the program name.
  static SystemLog& syslog();
};

class SyslogSystemLog final : public SystemLog {
 public:
  void report(const std::string& message) override;
};

} // namespace orvex
