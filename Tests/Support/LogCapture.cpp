#include "Support/LogCapture.h"

#include "OVLogger.h"
#include "Support/TempDir.h"

#include <memory>

namespace orvex::test {
namespace {

// Lines reach the GUI handler only once the logger's files are open, so the
// shared logger is opened once for the whole test program in a folder of its own.
void openSharedLoggerOnce() {
  static std::unique_ptr<TempDir> folder = [] {
    auto made = std::make_unique<TempDir>();
    OVLogger::shared().initLogs(made->path());
    return made;
  }();
}

} // namespace

LogCapture::LogCapture() {
  openSharedLoggerOnce();
  OVLogger& logger = OVLogger::shared();
  logger.flush();
  logger.setGUIHandler([this](const std::string& line, unsigned type) {
    std::lock_guard lock(mutex_);
    lines_.push_back({type, line});
  });
  logger.setLogToGUI(true);
}

LogCapture::~LogCapture() {
  OVLogger& logger = OVLogger::shared();
  logger.flush();
  logger.setLogToGUI(false);
  logger.setGUIHandler(nullptr);
}

std::vector<std::string> LogCapture::lines(unsigned type) {
  OVLogger::shared().flush();
  std::lock_guard lock(mutex_);
  std::vector<std::string> result;
  for (const Line& line : lines_) {
    if (line.type == type) {
      result.push_back(line.text);
    }
  }
  return result;
}

std::vector<std::string> LogCapture::warnings() {
  std::vector<std::string> result;
  for (const std::string& line : lines(kLogMain)) {
    if (line.find(": Warning! ") != std::string::npos) {
      result.push_back(line);
    }
  }
  return result;
}

std::string LogCapture::find(unsigned type, const std::string& text) {
  for (const std::string& line : lines(type)) {
    if (line.find(text) != std::string::npos) {
      return line;
    }
  }
  return "";
}

} // namespace orvex::test
